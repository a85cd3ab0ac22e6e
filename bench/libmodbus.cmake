# A fast libmodbus slave and a libmodbus master to measure our link against.
find_package(PkgConfig)
if(PkgConfig_FOUND)
  pkg_check_modules(MODBUS IMPORTED_TARGET libmodbus)
endif()
if(NOT MODBUS_FOUND)
  message(STATUS "libmodbus not found: the link comparison benchmark is skipped")
  return()
endif()

enable_language(C)
foreach(program libmodbus_server libmodbus_master)
  add_executable(${program} ${CMAKE_CURRENT_LIST_DIR}/${program}.c)
  target_link_libraries(${program} PRIVATE PkgConfig::MODBUS)
  target_compile_options(${program} PRIVATE -Wall -Wextra)
  # Plain C: nothing for Qt's generators to do.
  set_target_properties(${program} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endforeach()
