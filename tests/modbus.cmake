meterlink_test(modbus_link_test
    ${CMAKE_CURRENT_LIST_DIR}/crc_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modbus_link_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/in_memory_port_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/answer_wait_test.cpp
)
target_link_libraries(modbus_link_test PRIVATE meterlink_memory_line meterlink_modbus Qt6::Core)

if(METERLINK_PTYS)
    meterlink_test(serial_port_adapter_test
        ${CMAKE_CURRENT_LIST_DIR}/pty_pair.h
        ${CMAKE_CURRENT_LIST_DIR}/serial_port_adapter_test.cpp
    )
    target_link_libraries(serial_port_adapter_test PRIVATE meterlink_platform meterlink_modbus
        Qt6::Core Qt6::SerialPort)

    # The link on a real port: the system's port, or the QSerialPort adapter when the build
    # uses that one (METERLINK_QT_SERIAL_PORT).
    meterlink_test(posix_serial_port_test
        ${CMAKE_CURRENT_LIST_DIR}/pty_pair.h
        ${CMAKE_CURRENT_LIST_DIR}/posix_serial_port_test.cpp
    )
    target_link_libraries(posix_serial_port_test PRIVATE meterlink_platform meterlink_modbus
        Qt6::Core Qt6::SerialPort)
    # Reads the rate back with the kernel's termios2, which only Linux has.
    meterlink_system_sources(posix_serial_port_test
        LINUX ${CMAKE_CURRENT_LIST_DIR}/linux_line_speed_test.cpp)
    if(METERLINK_LINUX)
        target_link_libraries(posix_serial_port_test PRIVATE meterlink_cli_core)
    endif()
    if(METERLINK_QT_SERIAL_PORT)
        target_compile_definitions(posix_serial_port_test PRIVATE METERLINK_QT_SERIAL_PORT)
    endif()
endif()
