# Decoding a full log into the grid, and writing it to the file.
find_package(benchmark)
if(NOT benchmark_FOUND)
  message(STATUS "Google Benchmark not found: decode_export_bench is skipped")
  return()
endif()
add_executable(decode_export_bench ${CMAKE_CURRENT_LIST_DIR}/decode_export_bench.cpp)
target_link_libraries(decode_export_bench PRIVATE meterlink_logger benchmark::benchmark)
meterlink_warnings(decode_export_bench)
