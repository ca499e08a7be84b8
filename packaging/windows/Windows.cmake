# The Windows programs' version information, and what a technician downloads: a zip of the
# static programs and an NSIS installer, both in packages/ of the build tree. Included by
# cmake/Packaging.cmake.
enable_language(RC)

# VERSIONINFO wants four numbers.
foreach(part MAJOR MINOR PATCH TWEAK)
  if(NOT PROJECT_VERSION_${part})
    set(PROJECT_VERSION_${part} 0)
  endif()
endforeach()
set(ZW_VERSION_COMMAS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
set(ZW_VERSION_DOTS
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")

# zw_add_version_info(target description): the target's VERSIONINFO resource, from
# version.rc.in, linked in as an object of its own so the target's sources stay untouched.
function(zw_add_version_info target description)
  get_target_property(ZW_VI_NAME ${target} OUTPUT_NAME)
  if(NOT ZW_VI_NAME)
    set(ZW_VI_NAME ${target})
  endif()
  set(ZW_VI_DESCRIPTION "${description}")
  set(rc ${CMAKE_BINARY_DIR}/packaging/${target}-version.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in ${rc} @ONLY)
  add_library(zw_version_${target} OBJECT ${rc})
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:zw_version_${target}>)
endfunction()

zw_add_version_info(Zanowipe "Zanowipe, Box user data cleaner")
zw_add_version_info(zanowipe-cli "Zanowipe, Box user data cleaner (command line)")

# The programs as shipped: stripped copies in one folder, from which the zip and the installer
# are made.
set(ZW_STAGE_DIR ${CMAKE_BINARY_DIR}/packaging/stage)
set(ZW_STAGED_PROGRAMS ${ZW_STAGE_DIR}/Zanowipe.exe ${ZW_STAGE_DIR}/zanowipe-cli.exe)
add_custom_command(
  OUTPUT ${ZW_STAGED_PROGRAMS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZW_STAGE_DIR}
  COMMAND ${CMAKE_STRIP} -o ${ZW_STAGE_DIR}/Zanowipe.exe $<TARGET_FILE:Zanowipe>
  COMMAND ${CMAKE_STRIP} -o ${ZW_STAGE_DIR}/zanowipe-cli.exe $<TARGET_FILE:zanowipe-cli>
  DEPENDS Zanowipe zanowipe-cli
  COMMENT "Staging the Windows programs for packaging")

set(ZW_ZIP ${ZW_PACKAGE_DIR}/Zanowipe-${PROJECT_VERSION}-win32.zip)
add_custom_command(
  OUTPUT ${ZW_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZW_PACKAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${ZW_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ZW_ZIP} --format=zip Zanowipe.exe zanowipe-cli.exe
  WORKING_DIRECTORY ${ZW_STAGE_DIR}
  DEPENDS ${ZW_STAGED_PROGRAMS}
  COMMENT "Zipping the Windows programs: ${ZW_ZIP}")
set(ZW_WINDOWS_PACKAGES ${ZW_ZIP})

# The installer is part of every Windows build: NSIS (Debian package nsis) is required.
find_program(ZW_MAKENSIS makensis REQUIRED)
set(ZW_INSTALLER ${ZW_PACKAGE_DIR}/Zanowipe-${PROJECT_VERSION}-setup.exe)
set(ZW_PROGRAM_ICON ${PROJECT_SOURCE_DIR}/resources/icon_program.ico)
set(nsi ${CMAKE_BINARY_DIR}/packaging/Zanowipe.nsi)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Zanowipe.nsi.in ${nsi} @ONLY)
add_custom_command(
  OUTPUT ${ZW_INSTALLER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZW_PACKAGE_DIR}
  COMMAND ${ZW_MAKENSIS} -V2 -NOCD ${nsi}
  WORKING_DIRECTORY ${ZW_STAGE_DIR}
  DEPENDS ${ZW_STAGED_PROGRAMS} ${nsi} ${ZW_PROGRAM_ICON}
  COMMENT "Building the Windows installer: ${ZW_INSTALLER}")
list(APPEND ZW_WINDOWS_PACKAGES ${ZW_INSTALLER})

# Part of every build, so the tests of the build tree always meet current packages.
add_custom_target(windows-packages ALL DEPENDS ${ZW_WINDOWS_PACKAGES})
