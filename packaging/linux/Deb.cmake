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
set(ZW_DEB_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zanowipe)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/BOXSIM.md
              ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${ZW_DEB_DOC_DIR})

# What Debian's policy asks of every package besides the programs: the changelog (gzipped, under
# Debian's name for it) and manual pages.
find_program(ZW_GZIP gzip REQUIRED)
set(ZW_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/changelog)
set(ZW_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${ZW_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E copy ${ZW_CHANGELOG} ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  COMMAND ${ZW_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${ZW_CHANGELOG}
  COMMENT "Debian changelog"
  VERBATIM)
add_custom_target(deb-changelog ALL DEPENDS ${ZW_CHANGELOG_GZ})
install(FILES ${ZW_CHANGELOG_GZ} DESTINATION ${ZW_DEB_DOC_DIR})

# The programs of sanitizer and fuzzing builds, which nobody packages, are not run for their
# --help.
if(NOT ZW_SANITIZE AND NOT ZW_FUZZ)
  include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)
  install(FILES ${ZW_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES ${CMAKE_CURRENT_LIST_DIR}/zanowipe-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zanowipe-cli)
# Each override says why its tag does not apply to this package.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zanowipe)

# CPack's stripping (CPACK_STRIP_FILES) reaches only install(TARGETS ...), so not the simulated
# Box installed under another name; and plain strip keeps the .comment and .note sections that
# Debian's packages drop. Here every installed program is stripped as dh_strip would.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program zanowipe zanowipe-cli zanowipe-boxsim)
      execute_process(
        COMMAND \"${CMAKE_STRIP}\" --strip-all --remove-section=.comment --remove-section=.note
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

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
