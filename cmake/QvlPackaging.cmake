# What `cmake --install` puts where, and the Debian package CPack makes of it
# (`bash scripts/package`). Included from the top CMakeLists.txt after the programs' targets.
include(GNUInstallDirs)

set(QVL_PACKAGE_NAME qvlsetup)
set(QVL_PACKAGE_MAINTAINER "Quorvale Setup developers <setup@quorvale.org>"
    CACHE STRING "Maintainer named in the Debian package")

# Directories the install makes are 0755 whatever the umask of the one who installs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS qvl-get RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# (The installer is not built for Windows yet.)
if(TARGET qvlsetup)
  install(TARGETS qvlsetup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(NOT WIN32)
  set(_packaging ${CMAKE_SOURCE_DIR}/packaging)
  set(_generated ${CMAKE_BINARY_DIR}/packaging)
  # The menu entry's Icon= names the icon by theme name, so it goes into hicolor, the theme
  # every desktop falls back to, under its own pixel size.
  install(FILES ${CMAKE_SOURCE_DIR}/src/installer/resources/qvlsetup.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
  install(FILES ${_packaging}/qvlsetup.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

  # Manual pages and the changelog are installed compressed, as Debian keeps them; gzip -n
  # leaves out the time stamp so that two builds of one tree give the same package.
  qvl_require_program(QVL_GZIP gzip)
  set(_compressed)
  foreach(_page qvlsetup.1 qvl-get.1 changelog)
    configure_file(${_packaging}/${_page} ${_generated}/${_page} @ONLY)
    add_custom_command(OUTPUT ${_generated}/${_page}.gz
      COMMAND ${QVL_GZIP} -9nf -k ${_generated}/${_page}
      DEPENDS ${_generated}/${_page}
      COMMENT "Compressing ${_page}")
    list(APPEND _compressed ${_generated}/${_page}.gz)
  endforeach()
  add_custom_target(qvl_packaging_files ALL DEPENDS ${_compressed})
  install(FILES ${_generated}/qvlsetup.1.gz ${_generated}/qvl-get.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QVL_PACKAGE_NAME})
  install(FILES ${_packaging}/copyright ${_generated}/changelog.gz DESTINATION ${_docdir})

  set(CPACK_GENERATOR DEB)
  # Values reach the package as written here (quotes included).
  set(CPACK_VERBATIM_VARIABLES ON)
  set(CPACK_PACKAGE_NAME ${QVL_PACKAGE_NAME})
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_CONTACT ${QVL_PACKAGE_MAINTAINER})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer and updater for the Quorvale wallet")
  # The synopsis is the summary above; this is the extended description (lines under 80).
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvale Setup installs and updates the Quorvale (qvl) wallet on a Linux
desktop. One window: tick \"program\" and/or \"blockchain\" and press \"Next\".
It downloads the launcher, the wallet program and a version file and makes
desktop and menu shortcuts, and/or downloads the chain archive and runs it.
.
qvl-get makes one HTTP request with the same HTTP client, for checking a
download server by hand.")
  # <name>_<version>_<arch>.deb
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QVL_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The shared libraries the programs link come from dpkg-shlibdeps. Qt loads its platform
  # plugin (xcb, wayland, offscreen) at run time, which no linker records, so it is named here;
  # the window's font is wanted, not needed.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-open-sans")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  include(CPack)
endif()
