meterlink_test(meterlink_sim_tests
    ${CMAKE_CURRENT_LIST_DIR}/simulated_meter_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/meter_log_test.cpp
)
target_link_libraries(meterlink_sim_tests PRIVATE meterlink_sim)

if(METERLINK_PTYS)
  meterlink_test(meterlink_sim_program_tests
      ${CMAKE_CURRENT_LIST_DIR}/meterlink_sim_program_test.cpp
      ${CMAKE_SOURCE_DIR}/sim/pty_link.cpp
  )
  target_link_libraries(meterlink_sim_program_tests PRIVATE meterlink_sim)
endif()
