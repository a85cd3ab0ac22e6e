# The Chart tab drawing a full log, and a zoom or pan step.
add_executable(chart_draw_bench ${CMAKE_CURRENT_LIST_DIR}/chart_draw_bench.cpp)
target_link_libraries(chart_draw_bench PRIVATE meterlink_app benchmark::benchmark)
meterlink_warnings(chart_draw_bench)
