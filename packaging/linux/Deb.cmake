# The Debian package: what goes where, and CPack's DEB settings. Included by
# cmake/Packaging.cmake.
include(GNUInstallDirs)

install(TARGETS zanowipe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zanowipe.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/zanowipe-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME zanowipe.png)
endforeach()
install(TARGETS zanowipe-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The simulated Box, for training and for trying the tool without a Box. Renamed so that a
# name as general as "boxsim" does not land in everybody's PATH.
install(PROGRAMS $<TARGET_FILE:boxsim> DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME zanowipe-boxsim)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/BOXSIM.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zanowipe)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zanowipe)
set(CPACK_PACKAGE_VENDOR Zanowipe)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zanowipe maintainers <maintainers@zanowipe.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "erases a Box's user data over its serial console")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.zanowipe.example")
# dpkg-shlibdeps (dpkg-dev) works the dependencies out from the programs' libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts the summary first and indents the rest; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A technician's tool: it opens a serial port, wakes the Box's boot console when
the Box is switched on, sends the console command line that erases the user
data (and on request the configuration) and closes the port when the console
prompt returns.

zanowipe is the window (Qt 6), zanowipe-cli the same run without a window,
and zanowipe-boxsim a simulated Box on a pseudo-terminal for training.")
include(CPack)
