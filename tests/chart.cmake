# The chart: time series from the grid and from files, decimation, and the Chart tab.
find_package(Qt6 REQUIRED COMPONENTS Test)

meterlink_test(chart_series_test ${CMAKE_CURRENT_LIST_DIR}/chart_series_test.cpp)
target_link_libraries(chart_series_test PRIVATE meterlink_chart)

meterlink_test(chart_tab_test
    ${CMAKE_CURRENT_LIST_DIR}/chart_tab_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/window_test_world.h
)
target_link_libraries(chart_tab_test PRIVATE
    meterlink_app meterlink_sim meterlink_memory_line Qt6::Test)
