# The Debian package: the three programs in /usr/bin, the window's desktop entry and icon,
# and the user's guide. `make package` builds it with `cpack -G DEB`.
set(ZAVLO384_PACKAGING ${CMAKE_CURRENT_LIST_DIR})

if(TARGET zavlo384)
  install(FILES ${ZAVLO384_PACKAGING}/zavlo384.desktop DESTINATION share/applications)
  install(FILES ${ZAVLO384_PACKAGING}/zavlo384.svg DESTINATION share/icons/hicolor/scalable/apps)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/zavlo384)
if(EXISTS ${PROJECT_SOURCE_DIR}/docs/zavlo384.png)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/zavlo384.png DESTINATION share/doc/zavlo384/docs)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zavlo384)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zavlo384 developers <zavlo384@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and download tool for a controller on a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "Zavlo384 sends a controller's monitor commands in PBT telegrams over a serial line,\n"
    "downloads Motorola S-record images in acknowledged blocks, runs command scripts with\n"
    "checks of the replies and keeps a running report. It comes as a window (zavlo384),\n"
    "a batch front end for production lines (zavlo384-cli) and a simulated controller\n"
    "station for training and tests (zavlo384-station).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, so the library scan cannot see them: without
# them the window cannot open on a desktop.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")

include(CPack)
