# What `cmake --install` puts where (GNU directory layout), and the Debian package that `cpack`
# (or the `package` target) makes of it. The programs go to bin/; the platform library and the
# control's module are theirs alone, so they go to a private lib/kwz/ that the programs' and the
# module's run paths name relative to themselves: an installed tree works wherever it is
# unpacked, and nothing joins the system's library path.
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

# The Debian package. Its maintainer scripts register the module at its installed path.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kwz-screen-receiver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR KWZ)
set(KWZ_PACKAGE_MAINTAINER "KWZ Screen Receiver maintainers <kwz-maintainers@example.org>"
    CACHE STRING "The Debian package's maintainer")
set(CPACK_PACKAGE_CONTACT ${KWZ_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "LAN screen receiver control, viewer and presenter")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "A control that receives a presenter's screen as RTP over UDP unicast or"
  "IPv4 multicast, decodes it (zlib or Motion JPEG blocks, MPEG-4 Part 2,"
  "H.264, VP8, VP9) and paints it into its window, with remote control back"
  "to the presenter. kwz-viewer shows a stream through the control,"
  "kwz-present shares a screen, kwz-relay impairs a stream on purpose and"
  "kwz-regsvr registers the control's module, which this package registers"
  "machine-wide.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(KWZ_PACKAGE_REGSVR ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kwz-regsvr)
set(KWZ_PACKAGE_MODULE
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${kwz_private_libdir}/libkwz_screenreceiver.so)
set(_kwz_scripts)
foreach(script postinst prerm postrm)
  configure_file(packaging/${script}.in ${PROJECT_BINARY_DIR}/packaging/${script} @ONLY)
  list(APPEND _kwz_scripts ${PROJECT_BINARY_DIR}/packaging/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_kwz_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
