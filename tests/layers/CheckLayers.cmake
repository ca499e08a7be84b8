# Checks the include lines of the product's sources against the layers:
#
#   app/cli/       -> app/ gui/ serial/ runtime/
#   app/           -> app/ (not app/cli/) gui/ serial/ runtime/
#   gui/           -> gui/ runtime/
#   serial/        -> serial/ (serial/driver/ included) runtime/
#   serial/driver/ -> serial/driver/ runtime/
#   runtime/       -> runtime/
#   tools/boxsim/  -> tools/boxsim/ (it uses none of the above)
#
# Inside the POSIX driver, the engine and its two lines:
#
#   serial/driver/posix/engine/ -> neither line
#   serial/driver/posix/tty/    -> the engine (Line.h, the errno mapping, the DCB's rules)
#   serial/driver/posix/net/    -> the engine
#
# and serial/driver/posix/ itself (the driver's table, name resolution) joins all three.
#
# Toolkit and OS headers: Qt only in gui/qt/ and app/main_qt.cpp; Windows headers only in a
# win32/ folder and app/main_win32.cpp; POSIX system headers only in a posix/ folder and in
# tools/boxsim/, which runs on POSIX alone. Tests and benchmarks are not checked: they include
# what they link.
#
#   cmake -DROOT=<source tree> -P CheckLayers.cmake
# Exits non-zero and names every offending include when a rule is broken.
cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "CheckLayers.cmake: ROOT (the source tree to check) is required")
endif()

# The directories an include line starts with that name a part of the project; anything else
# in quotes is a file beside the includer.
set(project_dirs app gui serial runtime tools tests bench resources packaging)

set(windows_headers
    windows.h winuser.h winbase.h windef.h winnt.h winerror.h commctrl.h shellapi.h shlobj.h
    objbase.h winsock2.h ws2tcpip.h mmsystem.h wingdi.h io.h process.h)
set(posix_headers
    unistd.h fcntl.h termios.h poll.h pthread.h dirent.h dlfcn.h pty.h netdb.h grp.h pwd.h
    spawn.h syslog.h)
set(posix_dirs sys asm linux netinet arpa)

# The layer of a file (its path from ROOT) and the include prefixes it may use.
function(layer_of rel out_layer out_allowed)
  if(rel MATCHES "^app/cli/")
    set(layer app/cli)
    set(allowed app/ gui/ serial/ runtime/)
  elseif(rel MATCHES "^app/")
    set(layer app)
    set(allowed app/ gui/ serial/ runtime/)
  elseif(rel MATCHES "^gui/")
    set(layer gui)
    set(allowed gui/ runtime/)
  elseif(rel MATCHES "^serial/driver/")
    set(layer serial/driver)
    set(allowed serial/driver/ runtime/)
  elseif(rel MATCHES "^serial/")
    set(layer serial)
    set(allowed serial/ runtime/)
  elseif(rel MATCHES "^runtime/")
    set(layer runtime)
    set(allowed runtime/)
  elseif(rel MATCHES "^tools/boxsim/")
    set(layer tools/boxsim)
    set(allowed tools/boxsim/)
  endif()
  set(${out_layer} ${layer} PARENT_SCOPE)
  set(${out_allowed} ${allowed} PARENT_SCOPE)
endfunction()

# The part of the POSIX driver a path is in (engine, tty or net), or "" outside them.
function(posix_part_of path out)
  if(path MATCHES "^serial/driver/posix/(engine|tty|net)/")
    set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

function(starts_with_any text prefixes out)
  foreach(p IN LISTS prefixes)
    string(FIND "${text}" "${p}" at)
    if(at EQUAL 0)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE ${ROOT} LIST_DIRECTORIES false
     ${ROOT}/app/*.cpp ${ROOT}/app/*.h ${ROOT}/gui/*.cpp ${ROOT}/gui/*.h ${ROOT}/serial/*.cpp
     ${ROOT}/serial/*.h ${ROOT}/runtime/*.cpp ${ROOT}/runtime/*.h ${ROOT}/tools/boxsim/*.cpp
     ${ROOT}/tools/boxsim/*.h)
list(SORT sources)

set(violations "")
set(checked 0)
foreach(rel IN LISTS sources)
  layer_of("${rel}" layer allowed)
  math(EXPR checked "${checked} + 1")
  file(STRINGS ${ROOT}/${rel} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(kind "${CMAKE_MATCH_1}")
    set(header "${CMAKE_MATCH_2}")
    if(kind STREQUAL "\"")
      string(REGEX REPLACE "/.*" "" top "${header}")
      if(NOT header MATCHES "/" OR NOT top IN_LIST project_dirs)
        continue()
      endif()
      starts_with_any("${header}" "${allowed}" ok)
      if(ok AND layer STREQUAL "app" AND header MATCHES "^app/cli/")
        set(ok FALSE)
      endif()
      if(NOT ok)
        list(APPEND violations "${rel}: the ${layer} layer includes \"${header}\"")
      endif()
      posix_part_of("${rel}" from)
      posix_part_of("${header}" to)
      if(from AND to AND NOT from STREQUAL to AND NOT to STREQUAL "engine")
        list(APPEND violations
             "${rel}: the POSIX driver's ${from} part includes the ${to} line's \"${header}\"")
      endif()
      continue()
    endif()
    string(TOLOWER "${header}" lower)
    string(REGEX REPLACE "/.*" "" top "${header}")
    if(header MATCHES "^Q[A-Za-z]*(/|$)")
      if(NOT rel MATCHES "^gui/qt/" AND NOT rel STREQUAL "app/main_qt.cpp")
        list(APPEND violations "${rel}: Qt header <${header}> outside the Qt backend")
      endif()
    elseif(lower IN_LIST windows_headers)
      if(NOT rel MATCHES "(^|/)win32/" AND NOT rel STREQUAL "app/main_win32.cpp")
        list(APPEND violations "${rel}: Windows header <${header}> outside a win32/ folder")
      endif()
    elseif(header IN_LIST posix_headers OR (header MATCHES "/" AND top IN_LIST posix_dirs))
      if(NOT rel MATCHES "(^|/)posix/" AND NOT layer STREQUAL "tools/boxsim")
        list(APPEND violations "${rel}: POSIX header <${header}> outside a posix/ folder")
      endif()
    endif()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "CheckLayers.cmake: no sources found under ${ROOT}")
endif()
if(violations)
  list(LENGTH violations count)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "${count} include(s) break the layers:\n  ${text}")
endif()
message(STATUS "${checked} files keep to their layers")
