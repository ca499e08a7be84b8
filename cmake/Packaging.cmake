# How the programs reach a technician: on Linux a .deb (CPack, `cpack` or the `package` target)
# with the window, the command line and the simulated Box; for Windows version information in
# the programs, a zip of the static programs and an NSIS installer (both built with the
# programs, into packages/ of the build tree). scripts/package.sh builds all of them.
set(ZW_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)
set(ZW_PACKAGING_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging)
cmake_path(NORMAL_PATH ZW_PACKAGING_SOURCE_DIR)

if(WIN32)
  include(${ZW_PACKAGING_SOURCE_DIR}/windows/Windows.cmake)
else()
  include(${ZW_PACKAGING_SOURCE_DIR}/linux/Deb.cmake)
endif()
