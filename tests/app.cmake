# Targets of this folder.
find_package(Qt6 REQUIRED COMPONENTS Test)

meterlink_test(main_window_test
    main_window_test.cpp
    window_test_world.h wired_window.h line_endpoint.h
    window_wiring_test.cpp
)
target_link_libraries(main_window_test PRIVATE
    meterlink_app meterlink_sim meterlink_memory_line Qt6::Test)

# End to end: the window on the real serial port against meterlink-sim on a pseudo-terminal.
if(TARGET meterlink-sim)
  meterlink_test(window_end_to_end_test window_end_to_end_test.cpp)
  target_link_libraries(window_end_to_end_test PRIVATE
      meterlink_app meterlink_platform Qt6::Test)
  add_dependencies(window_end_to_end_test meterlink-sim)
endif()

# The desktop entry as menus read it (its Exec line starts the window in the home folder).
add_test(NAME desktop_entry_valid
    COMMAND desktop-file-validate ${CMAKE_SOURCE_DIR}/packaging/meterlink.desktop)

# The window driven without a screen, for the end-to-end test that runs it as other users.
add_executable(window_download_driver window_download_driver.cpp)
target_link_libraries(window_download_driver PRIVATE meterlink_app meterlink_platform)
meterlink_warnings(window_download_driver)

# Every text against its control, at two scale factors and in two locales with long dates.
add_executable(window_fit_test window_fit_test.cpp window_test_world.h)
target_link_libraries(window_fit_test PRIVATE
    meterlink_app meterlink_sim meterlink_memory_line GTest::gtest GTest::gtest_main)
meterlink_warnings(window_fit_test)
foreach(run "1;de_DE.UTF-8" "2;ko_KR.UTF-8")
  list(GET run 0 scale)
  list(GET run 1 locale)
  add_test(NAME window_fit_test.scale${scale} COMMAND window_fit_test)
  set_tests_properties(window_fit_test.scale${scale} PROPERTIES ENVIRONMENT
      "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=${scale};LC_ALL=${locale}")
endforeach()
