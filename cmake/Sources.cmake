# zw_sources(var dir): the .cpp files of dir and of its per-OS subfolder (posix/ or win32/).
function(zw_sources var dir)
  file(GLOB common CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB os CONFIGURE_DEPENDS ${dir}/${ZW_OS}/*.cpp)
  set(${var} ${common} ${os} PARENT_SCOPE)
endfunction()
