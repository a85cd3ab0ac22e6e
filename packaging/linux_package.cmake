# What the .deb (and a system install under /usr) adds beyond the programs: manual pages,
# bash completion, AppStream metadata, the changelog, the collection's system user and
# its folders.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
set(compressed)
foreach(source man/meterlink.1 man/meterlink-cli.1 man/meterlink-sim.1 changelog)
  get_filename_component(name ${source} NAME)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${source}.in ${packaging_out}/${name} @ONLY)
  # -n: no name or time stamp, so that the package is the same at every build.
  add_custom_command(OUTPUT ${packaging_out}/${name}.gz
      COMMAND ${GZIP_PROGRAM} -9nc ${packaging_out}/${name} > ${packaging_out}/${name}.gz
      DEPENDS ${packaging_out}/${name} VERBATIM)
  list(APPEND compressed ${packaging_out}/${name}.gz)
endforeach()
add_custom_target(meterlink_packaging_files ALL DEPENDS ${compressed})
configure_file(${CMAKE_CURRENT_LIST_DIR}/org.example.meterlink.metainfo.xml.in
               ${packaging_out}/org.example.meterlink.metainfo.xml @ONLY)

install(FILES ${packaging_out}/meterlink.1.gz ${packaging_out}/meterlink-cli.1.gz
              ${packaging_out}/meterlink-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/meterlink-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME meterlink-cli)
install(FILES ${packaging_out}/org.example.meterlink.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/sysusers.conf
        DESTINATION lib/sysusers.d RENAME meterlink.conf)
install(CODE [[
  # The system's folders only for a system install (the package, or --prefix /usr); an
  # install of one's own under ~/.local has no use for them.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    file(MAKE_DIRECTORY "$ENV{DESTDIR}/etc/meterlink" "$ENV{DESTDIR}/var/lib/meterlink")
  endif()
]])
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
