# The in-memory serial line with its fake clock and event pump, for tests of the link
# and of everything above it.
add_library(meterlink_memory_line STATIC
    ${CMAKE_CURRENT_LIST_DIR}/fake_clock.h
    ${CMAKE_CURRENT_LIST_DIR}/fake_event_pump.h ${CMAKE_CURRENT_LIST_DIR}/fake_event_pump.cpp
    ${CMAKE_CURRENT_LIST_DIR}/in_memory_port.h ${CMAKE_CURRENT_LIST_DIR}/in_memory_port.cpp
)
target_link_libraries(meterlink_memory_line PUBLIC meterlink_modbus Qt6::Core)
meterlink_warnings(meterlink_memory_line)
