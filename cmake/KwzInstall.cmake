# What `cmake --install` puts where (GNU directory layout). The programs go to bin/; the platform
# library and the control's module are theirs alone, so they go to a private lib/kwz/ that the
# programs' and the module's run paths name relative to themselves: an installed tree works
# wherever it is unpacked, and nothing joins the system's library path.
include(GNUInstallDirs)

set(kwz_programs kwz-present kwz-regsvr kwz-relay kwz-viewer)
set(kwz_private_libdir ${CMAKE_INSTALL_LIBDIR}/kwz)
file(RELATIVE_PATH _kwz_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${kwz_private_libdir})

set_target_properties(${kwz_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/${_kwz_bin_to_lib}")
set_target_properties(kwz_screenreceiver PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${kwz_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kwz_platform kwz_screenreceiver LIBRARY DESTINATION ${kwz_private_libdir})

install(FILES packaging/kwz-viewer.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/kwz-viewer.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages from each program's --help and --version, when help2man is at hand. They belong
# to the full build only: a build of named targets (the demo's) skips them.
find_program(KWZ_HELP2MAN help2man)
if(KWZ_HELP2MAN)
  set(_kwz_about_kwz-present "share a screen with viewers on the local network")
  set(_kwz_about_kwz-regsvr "register or unregister an in-process server module")
  set(_kwz_about_kwz-relay "impair a UDP stream on the loopback interface")
  set(_kwz_about_kwz-viewer "show a screen shared on the local network")
  set(_kwz_pages)
  foreach(program ${kwz_programs})
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${KWZ_HELP2MAN} --no-info --name=${_kwz_about_${program}} --output=${page}
              $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program}
      COMMENT "Writing the manual page of ${program}"
      VERBATIM)
    list(APPEND _kwz_pages ${page}.gz)
  endforeach()
  add_custom_target(kwz_man_pages ALL DEPENDS ${_kwz_pages})
  install(FILES ${_kwz_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: the programs get no manual pages")
endif()
