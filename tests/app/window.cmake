# Tests of the station window.
varnex2_test(test_station_window
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_station_window.cpp
  LINKS varnex2_app Qt6::Widgets Qt6::Test
  LABELS threaded)
target_compile_definitions(test_station_window PRIVATE VARNEX2_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
