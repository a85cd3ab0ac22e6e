# The log download and export: decoding, the grid, the file, and the download itself.
find_package(Qt6 REQUIRED COMPONENTS Test)

meterlink_test(logger_core_test
    ${CMAKE_CURRENT_LIST_DIR}/meter_float_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/record_decoding_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/grid_model_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/csv_export_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/append_state_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/log_image_test.cpp
)
target_link_libraries(logger_core_test PRIVATE meterlink_logger Qt6::Test)

meterlink_test(logger_download_test
    ${CMAKE_CURRENT_LIST_DIR}/logger_test_world.h ${CMAKE_CURRENT_LIST_DIR}/line_endpoint.h
    ${CMAKE_CURRENT_LIST_DIR}/download_log_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_command_test.cpp
)
target_link_libraries(logger_download_test PRIVATE
    meterlink_logger meterlink_sim meterlink_memory_line meterlink_platform Qt6::Test)
