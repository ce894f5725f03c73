# Widget sources of varnex2_judging: the node-map control and its painter.
target_sources(varnex2_judging PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/color_grid.h
  ${CMAKE_CURRENT_LIST_DIR}/color_grid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/color_grid_painter.h
  ${CMAKE_CURRENT_LIST_DIR}/color_grid_painter.cpp
)
target_link_libraries(varnex2_judging PUBLIC Qt6::Widgets)
