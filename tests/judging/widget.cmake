# Widget tests: the node-map control on the offscreen platform.
varnex2_test(test_color_grid
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_color_grid.cpp
  LINKS varnex2_judging Qt6::Widgets Qt6::Test)
