# meterlink-cli: its arguments, trace and commands on the in-memory line, and end to end
# against meterlink-sim on a pseudo-terminal.
meterlink_test(cli_core_test
    ${CMAKE_CURRENT_LIST_DIR}/cli_world.h ${CMAKE_CURRENT_LIST_DIR}/line_endpoint.h
    ${CMAKE_CURRENT_LIST_DIR}/cli_options_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cli_core_test.cpp
    ${CMAKE_SOURCE_DIR}/cli/cli_runner.cpp
)
target_link_libraries(cli_core_test PRIVATE
    meterlink_cli_core meterlink_cli_scan meterlink_platform meterlink_sim meterlink_memory_line Qt6::Core)

# End to end: the two programs on a pseudo-terminal. It watches the trace with inotify.
if(TARGET meterlink-sim AND METERLINK_LINUX)
  meterlink_test(cli_end_to_end_test ${CMAKE_CURRENT_LIST_DIR}/cli_end_to_end_test.cpp)
  meterlink_linux_only_files(${CMAKE_CURRENT_LIST_DIR}/cli_end_to_end_test.cpp)
  target_link_libraries(cli_end_to_end_test PRIVATE Qt6::Core)
  add_dependencies(cli_end_to_end_test meterlink-cli meterlink-sim)

  # Collection without a person: appending, several meters, the lock (flock), the scan.
  meterlink_test(collect_end_to_end_test ${CMAKE_CURRENT_LIST_DIR}/collect_end_to_end_test.cpp)
  meterlink_linux_only_files(${CMAKE_CURRENT_LIST_DIR}/collect_end_to_end_test.cpp)
  target_link_libraries(collect_end_to_end_test PRIVATE meterlink_cli_core Qt6::Core)
  add_dependencies(collect_end_to_end_test meterlink-cli meterlink-sim)

  # Meters behind network gateways: the simulator on the loopback.
  meterlink_test(gateway_end_to_end_test ${CMAKE_CURRENT_LIST_DIR}/gateway_end_to_end_test.cpp)
  meterlink_linux_only_files(${CMAKE_CURRENT_LIST_DIR}/gateway_end_to_end_test.cpp)
  target_link_libraries(gateway_end_to_end_test PRIVATE meterlink_cli_core Qt6::Core)
  add_dependencies(gateway_end_to_end_test meterlink-cli meterlink-sim)

  # A seeded year of nightly appends with everything a site's year brings, three seeds.
  meterlink_test(year_of_nights_test ${CMAKE_CURRENT_LIST_DIR}/year_of_nights_test.cpp)
  meterlink_linux_only_files(${CMAKE_CURRENT_LIST_DIR}/year_of_nights_test.cpp)
  target_link_libraries(year_of_nights_test PRIVATE meterlink_cli_core meterlink_sim Qt6::Core)
  add_dependencies(year_of_nights_test meterlink-cli meterlink-sim)
endif()
