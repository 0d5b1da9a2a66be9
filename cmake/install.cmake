# What `cmake --install` puts where, and the Debian package made from it by CPack.
# Included for the GUI build on Linux: the desktop entry, icon and man pages are for
# freedesktop systems, and the man pages are made by running the built programs.

include(GNUInstallDirs)

install(TARGETS progread progread-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/progread.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/progread.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Man pages from --help and the project's version, with the sections --help leaves out in
# the .h2m files.
# Compressed, as Debian's policy wants them; man reads them either way.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
  set(man_pages)
  # progread --help ends with the folder its files go to, which at build time is the build
  # folder; the page names none.
  set(help_option_progread "--help-option=--dir DIR --help")
  set(help_option_progread-sim "")
  foreach(program progread progread-sim)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
    set(include ${CMAKE_CURRENT_SOURCE_DIR}/packaging/${program}.h2m)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              ${HELP2MAN} --no-info --section=1 --include=${include}
              --version-string=${PROJECT_VERSION} ${help_option_${program}}
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${GZIP} -9nf ${page}
      DEPENDS ${program} ${include}
      COMMENT "Writing the ${program}(1) man page"
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man or gzip not found: no man pages (scripts/setup installs help2man)")
endif()

# The Debian package: scripts/package runs cpack on this build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME progread)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "progread developers")
set(CPACK_PACKAGE_CONTACT "progread developers <progread@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "reads a controller's program over a serial line into a program image file")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "progread reads the stored program out of a programmable controller on a serial\n\
port (9600 baud, 7E1) block by block and saves it as duqu.pmw, the image file\n\
that the controller's programming software opens. It has a small window and a\n\
mode without one (--read) for scripts.\n\
.\n\
progread-sim, a simulated controller on a pseudo-terminal, is included for\n\
trying the tool without hardware.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The Qt libraries come from dpkg-shlibdeps; the window's labels are Chinese and need a font
# that has them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
include(CPack)
