# Targets of this folder.
find_package(Qt6 REQUIRED COMPONENTS Test)

meterlink_test(main_window_test
    main_window_test.cpp
    window_test_world.h
    window_wiring_test.cpp
)
target_link_libraries(main_window_test PRIVATE
    meterlink_app meterlink_sim meterlink_memory_line Qt6::Test)
