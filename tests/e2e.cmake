if(NOT TARGET meterlink-sim)
  return()
endif()
# End to end: real clients against meterlink-sim on a pseudo-terminal. Each skips (77)
# when its client is not installed.
add_test(NAME e2e_sim_mbpoll
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/sim_mbpoll.sh $<TARGET_FILE:meterlink-sim>)
add_test(NAME e2e_sim_pymodbus
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/e2e/sim_pymodbus.py
            $<TARGET_FILE:meterlink-sim>)
set_tests_properties(e2e_sim_mbpoll e2e_sim_pymodbus PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 120 LABELS e2e)

# Every baud rate of the Settings tab through meterlink-cli and the window, as root and as an
# ordinary user (setpriv); skips (77) where no other user can be taken on.
add_test(NAME e2e_every_speed
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/every_speed.sh $<TARGET_FILE_DIR:meterlink-cli>
            $<TARGET_FILE:window_download_driver>)
set_tests_properties(e2e_every_speed PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS e2e COST 300)
# The package built, checked and unpacked, and the README's nightly collection walked.
add_test(NAME e2e_package_walk
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/package_walk.sh ${CMAKE_BINARY_DIR}
            ${CMAKE_SOURCE_DIR})
set_tests_properties(e2e_package_walk PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS e2e)

# --help and --version of the three programs, with no display to open.
add_test(NAME help_and_version
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/help_and_version.sh
            $<TARGET_FILE_DIR:meterlink-cli> ${PROJECT_VERSION})
set_tests_properties(help_and_version PROPERTIES TIMEOUT 120)

# The two CSV forms imported by LibreOffice Calc under en-US and de-DE; skips (77) without
# it. LibreOffice's first start makes a profile, hence the time.
add_test(NAME e2e_spreadsheet_import
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e/spreadsheet_import.sh
            $<TARGET_FILE_DIR:meterlink-cli>)
set_tests_properties(e2e_spreadsheet_import PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 400 LABELS e2e)
