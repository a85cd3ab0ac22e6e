# The download against the wire minimum: `cmake --build <dir> --target download_speed`.
add_custom_target(download_speed
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/download_speed.sh ${CMAKE_BINARY_DIR}
    DEPENDS meterlink-cli meterlink-sim
    USES_TERMINAL)
