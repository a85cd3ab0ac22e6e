# Faults end to end: meterlink-cli against meterlink-sim on a pseudo-terminal while the meter
# misbehaves, goes away, or either program is stopped. The cases run side by side.
if(TARGET meterlink-cli AND TARGET meterlink-sim)
  add_test(NAME faults
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/faults/fault_suite.py
              --cli $<TARGET_FILE:meterlink-cli> --sim $<TARGET_FILE:meterlink-sim>)
  set_tests_properties(faults PROPERTIES TIMEOUT 600 LABELS faults)
endif()
