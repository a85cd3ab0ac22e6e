# The Chart tab drawing a full log, a zoom or pan step, and opening a large file.
find_package(benchmark QUIET)
if(NOT benchmark_FOUND)
  return()
endif()
add_executable(chart_draw_bench ${CMAKE_CURRENT_LIST_DIR}/chart_draw_bench.cpp)
target_link_libraries(chart_draw_bench PRIVATE meterlink_app benchmark::benchmark)
meterlink_warnings(chart_draw_bench)
