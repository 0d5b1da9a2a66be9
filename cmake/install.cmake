# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts where, and the Debian package made from it by CPack.
# Included for the GUI build on Linux: the desktop entry, icon and man pages are for
# freedesktop systems, and the man pages are made by running the built programs.

include(GNUInstallDirs)

install(TARGETS progread progread-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package's) also drops the compiler's .comment and .note sections, as
# Debian's own tools strip a program.
if(CMAKE_OBJCOPY)
  foreach(program progread progread-sim)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()")
  endforeach()
endif()
install(FILES packaging/progread.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/progread.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Bash completion where bash-completion looks for a command's own (its pkg-config
# completionsdir, /usr/share/bash-completion/completions, or under ~/.local): one file for both
# programs, progread-sim's name a link to it.
set(completions ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
file(CREATE_LINK progread ${CMAKE_CURRENT_BINARY_DIR}/progread-sim.bash-completion SYMBOLIC)
install(FILES packaging/progread.bash-completion DESTINATION ${completions} RENAME progread)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/progread-sim.bash-completion DESTINATION ${completions}
        RENAME progread-sim)

# The licence in Debian's machine-readable form, and the history of releases, as a Debian
# package carries them (the changelog compressed, like the man pages).
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
find_program(GZIP gzip)
if(GZIP)
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog)
  add_custom_command(
    OUTPUT ${changelog}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/doc
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog ${changelog}
    COMMAND ${GZIP} -9nf ${changelog}
    DEPENDS packaging/changelog
    COMMENT "Compressing the changelog"
    VERBATIM)
  add_custom_target(progread_changelog ALL DEPENDS ${changelog}.gz)
  install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# Man pages from --help (laid out for help2man by packaging/man-help) and the project's
# version, with the sections --help leaves out in the .h2m files, finished by
# packaging/man-page.cmake. Compressed, as Debian's policy wants them; man reads them either
# way.
# They are dated by the latest release in packaging/changelog, so that the same source makes
# the same pages.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/changelog)
file(STRINGS packaging/changelog signatures REGEX "^ -- ")
list(GET signatures 0 signature)
if(NOT signature MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: the latest entry's date is not like Mon, 07 Dec 2026")
endif()
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
string(LENGTH "${month}" digits)
if(digits EQUAL 1)
  set(month 0${month})
endif()
set(man_date ${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1})

find_program(HELP2MAN help2man)
if(HELP2MAN AND GZIP)
  set(man_pages)
  # progread --help ends with the folder its files go to, which at build time is the build
  # folder: the page asks for DIR, leaves that line out and tells in FILES where they go.
  set(help_option_progread "--help-option=--dir DIR --help")
  set(help_option_progread-sim "")
  set(finish_progread "-DDROP=Files are kept in DIR.")
  set(finish_progread-sim "")
  foreach(program progread progread-sim)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
    set(include ${CMAKE_CURRENT_SOURCE_DIR}/packaging/${program}.h2m)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
              PROGREAD_MAN_PROGRAM=$<TARGET_FILE:${program}>
              ${HELP2MAN} --no-info --section=1 --include=${include}
              --version-string=${PROJECT_VERSION} "--source=progread ${PROJECT_VERSION}"
              ${help_option_${program}} --output=${page}
              ${CMAKE_CURRENT_SOURCE_DIR}/packaging/man-help
      COMMAND ${CMAKE_COMMAND} -DPAGE=${page} -DDATE=${man_date} ${finish_${program}}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/packaging/man-page.cmake
      COMMAND ${GZIP} -9nf ${page}
      DEPENDS ${program} ${include} packaging/man-page.cmake packaging/man-help
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
set(CPACK_PACKAGE_CONTACT "${PROGREAD_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PROGREAD_MAINTAINER}")
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
# Modes as Debian's tools set them, whatever the umask of the one who builds.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The Qt libraries come from dpkg-shlibdeps. The window's labels are Chinese and want a font
# that has them, and Qt's own dialogs (the file dialog of 比较…) Qt's Chinese translations;
# --read needs neither, so both are recommended, as Debian recommends fonts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
include(CPack)
