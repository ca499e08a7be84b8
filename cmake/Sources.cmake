# zw_sources(var dir): the .cpp files of dir and of its per-OS subfolder (posix/ or win32/),
# that folder's own subfolders included (serial/driver/posix/ keeps its engine and its lines
# apart).
function(zw_sources var dir)
  file(GLOB common CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB_RECURSE os CONFIGURE_DEPENDS ${dir}/${ZW_OS}/*.cpp)
  set(${var} ${common} ${os} PARENT_SCOPE)
endfunction()
