# Checks that keep the build portable, run as tests on Linux: the Windows build's sources
# compiled with MinGW-w64, and Linux-only headers kept in the files only Linux builds.
# Once per run is enough: not again in the sanitizer build.
if(NOT METERLINK_LINUX OR METERLINK_SANITIZE)
  return()
endif()

# The Qt headers of this build, for the cross compiler.
set(qt_include_dirs "")
foreach(module Core Gui Widgets SerialPort Network Charts Svg Concurrent)
  get_target_property(dirs Qt6::${module} INTERFACE_INCLUDE_DIRECTORIES)
  list(APPEND qt_include_dirs ${dirs})
endforeach()
list(REMOVE_DUPLICATES qt_include_dirs)
list(JOIN qt_include_dirs "\n" text)
file(CONFIGURE OUTPUT portability/qt_include_dirs.txt CONTENT "${text}\n")

add_test(NAME windows_compile_check
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check_windows_build.sh
            ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/portability)
add_test(NAME linux_only_headers
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check_linux_only_headers.sh
            ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/portability/linux_only_sources.txt)
# Skipped (77) where the cross compiler is missing, unless METERLINK_REQUIRE_WINDOWS_CHECK
# is set in the environment, as test.sh does. The longest test of all: ctest starts it
# first (COST), so that the others run beside it instead of after it.
set_tests_properties(windows_compile_check PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS portability COST 1000)
set_tests_properties(linux_only_headers PROPERTIES LABELS portability)
