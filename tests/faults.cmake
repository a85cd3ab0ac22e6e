# Faults end to end: meterlink-cli against meterlink-sim on a pseudo-terminal while the meter
# misbehaves, goes away, or either program is stopped. The cases run side by side.
if(TARGET meterlink-cli AND TARGET meterlink-sim)
  add_test(NAME faults
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/faults/fault_suite.py
              --cli $<TARGET_FILE:meterlink-cli> --sim $<TARGET_FILE:meterlink-sim>)
  # Among the longest: started early (COST) so that shorter tests fill in beside it.
  set_tests_properties(faults PROPERTIES TIMEOUT 600 LABELS faults COST 500)
endif()

# The window closed or left by "E&xit" at any moment of a download or a display tick.
if(TARGET meterlink_app)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  meterlink_test(window_close_test
      ${CMAKE_CURRENT_LIST_DIR}/faults/window_close_test.cpp
      ${CMAKE_CURRENT_LIST_DIR}/window_test_world.h
  )
  target_link_libraries(window_close_test PRIVATE
      meterlink_app meterlink_sim meterlink_memory_line Qt6::Test)
endif()
