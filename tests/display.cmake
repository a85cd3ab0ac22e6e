# The remote display: key queue, display text, and the tab's handlers against the meter.
meterlink_test(display_test
    ${CMAKE_CURRENT_LIST_DIR}/display_text_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/display_panel_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/line_endpoint.h
)
target_link_libraries(display_test PRIVATE
    meterlink_display meterlink_logger meterlink_sim meterlink_memory_line meterlink_platform)
