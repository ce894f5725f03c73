# Station window sources of varnex2_app.
target_sources(varnex2_app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/menu_ids.h
  ${CMAKE_CURRENT_LIST_DIR}/message_box.h
  ${CMAKE_CURRENT_LIST_DIR}/message_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/station_commands.h
  ${CMAKE_CURRENT_LIST_DIR}/station_window.h
  ${CMAKE_CURRENT_LIST_DIR}/station_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_bar_ex.h
  ${CMAKE_CURRENT_LIST_DIR}/status_bar_ex.cpp
)
target_link_libraries(varnex2_app PUBLIC Qt6::Widgets)
