# The windowed programs. Included by app/CMakeLists.txt; the pictures' targets come from
# resources/, which is configured later and resolved by name.
if(WIN32)
  if(TARGET zw_gui_win32)
    add_executable(Zanowipe WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/main_win32.cpp)
    set_target_properties(Zanowipe PROPERTIES OUTPUT_NAME Zanowipe)
    target_link_libraries(Zanowipe PRIVATE zw_app zw_gui_win32 zw_pictures_rc)
  endif()
elseif(TARGET zw_gui_qt)
  add_executable(zanowipe ${CMAKE_CURRENT_SOURCE_DIR}/main_qt.cpp)
  target_link_libraries(zanowipe PRIVATE zw_app zw_gui_qt zw_pictures_qt)
endif()
