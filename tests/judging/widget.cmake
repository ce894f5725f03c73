# Widget tests: the node-map control on the offscreen platform.
varnex2_test(test_color_grid
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/color_grid_test.cpp
  LINKS varnex2_judging_widget Qt6::Widgets Qt6::Test)

# Whole-picture comparisons of the paint (fresh against reused painters, and
# against stored pictures when VARNEX2_GRID_REF_DIR is set).
varnex2_test(test_color_grid_pixels
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/color_grid_pixels_test.cpp
  LINKS varnex2_judging_widget Qt6::Widgets)
