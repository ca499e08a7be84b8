# The layers, held by the build. Includes are written from the repository's root
# ("serial/CportX1.h"), so the root itself on the include path would let any file reach any
# other. Instead each layer gets an include root of its own in the build tree that shows its
# directory and nothing else (layers/serial_driver/serial/driver -> <source>/serial/driver),
# and a library carries only its own root to whoever links it. A file then finds the headers
# of its layer and of the layers its target links, and an include that reaches upward, or
# sideways into a layer not linked, fails to compile. Toolkit include directories come only
# with the targets that are allowed them (the Qt backend, the program entries).
#
# The serial layer's root shows serial/, and serial/driver/ with it: the component links the
# driver anyway. The finer rules (the driver never includes the component, app/ never app/cli/,
# OS headers only in posix/ and win32/) are checked over the sources by tests/layers.
set(ZW_LAYER_ROOTS ${CMAKE_BINARY_DIR}/layers)

# zw_layer(target dir): target's headers are those under dir, seen by target and by every
# target that links it.
function(zw_layer target dir)
  string(REPLACE "/" "_" name ${dir})
  set(root ${ZW_LAYER_ROOTS}/${name})
  cmake_path(GET dir PARENT_PATH parent)
  file(MAKE_DIRECTORY ${root}/${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC RESULT made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "Cannot make the include root of ${dir} in ${root}: ${made}")
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
