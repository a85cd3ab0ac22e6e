# Processor time of a 3-second time-out on a real pty (needs socat).
add_executable(link_timeout_cpu ${CMAKE_CURRENT_LIST_DIR}/timeout_cpu.cpp)
target_link_libraries(link_timeout_cpu PRIVATE meterlink_platform meterlink_modbus Qt6::Core)
meterlink_warnings(link_timeout_cpu)
