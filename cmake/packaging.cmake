# What an install puts in place and the packages made from it. On Linux: the program, its
# desktop entry, its icon in the hicolor theme, its manual page and its licence, and a Debian
# package of them (cpack -G DEB) whose dependencies dpkg-shlibdeps reads from the program. On
# Windows: a zip of the program, its console twin, the README and the licence.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME vantorio)
set(CPACK_PACKAGE_VENDOR "The Vantorio developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "logon settings editor for offline Windows installations")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CONTACT "The Vantorio developers <vantorio@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 1)

if(WIN32)
  # The window's program and its console twin for scripts, side by side.
  install(TARGETS vantorio vantorio_console RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vantorio-${PROJECT_VERSION}-win64)
else()
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantorio)
  install(TARGETS vantorio RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/res/vantorio.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/res/vantorio.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/32x32/apps)

  # The manual page with the project's version, compressed as the distribution keeps them
  # (gzip -n: no name or time inside, so the same page gives the same bytes).
  configure_file(${PROJECT_SOURCE_DIR}/docs/vantorio.1 ${PROJECT_BINARY_DIR}/packaging/vantorio.1 @ONLY)
  find_program(GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/vantorio.1.gz
    COMMAND ${GZIP} -9nf ${PROJECT_BINARY_DIR}/packaging/vantorio.1 -c > ${PROJECT_BINARY_DIR}/packaging/vantorio.1.gz
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/vantorio.1
    COMMENT "Compressing the manual page")
  # The changes of each release, in the distribution's changelog format.
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${GZIP} -9nf ${PROJECT_SOURCE_DIR}/docs/changelog -c > ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/changelog
    COMMENT "Compressing the changelog")
  add_custom_target(vantorio_docs ALL
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/vantorio.1.gz ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/vantorio.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # The licence as the distribution's machine-readable copyright file.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^MIT License\n\n" "" licence "${licence}")
  string(REGEX REPLACE "\n+$" "" licence "${licence}")
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" holder "${licence}")
  set(holder ${CMAKE_MATCH_1})
  string(REGEX REPLACE "^Copyright \\(c\\) [^\n]*\n\n" "" terms "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REGEX REPLACE "\n" "\n " terms "${terms}")
  file(WRITE ${PROJECT_BINARY_DIR}/packaging/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: Vantorio\n"
    "\n"
    "Files: *\n"
    "Copyright: ${holder}\n"
    "License: Expat\n"
    "\n"
    "License: Expat\n"
    " ${terms}\n")
  install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION ${docdir})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Besides the libraries the program links: the Gothic face its Japanese window is drawn in.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Vantorio is one small window, in Japanese, that shows and changes the
logon settings of a Windows installation: automatic logon with its user
name and password, hiding the last user name, shutdown from the logon
screen, and the notice shown before logon.
.
It edits the SOFTWARE registry hive file of that installation offline (on
a mounted disk or a virtual machine's image) with a hive engine of its own,
writing each change as a complete new file that replaces the old one.")
endif()

include(CPack)
