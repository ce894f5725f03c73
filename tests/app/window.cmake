# Tests of the station window.
varnex2_test(test_station_window
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/station_window_test.cpp ${CMAKE_CURRENT_LIST_DIR}/station_window_fakes.h
  LINKS varnex2_app Qt6::Widgets Qt6::Test)
target_compile_definitions(test_station_window PRIVATE VARNEX2_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
varnex2_test(test_station_window_threads
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/station_window_threads_test.cpp ${CMAKE_CURRENT_LIST_DIR}/station_window_fakes.h
  LINKS varnex2_app Qt6::Widgets
  ENV "TSAN_OPTIONS=halt_on_error=1:suppressions=${CMAKE_CURRENT_LIST_DIR}/test_station_window_tsan.supp"
  LABELS threaded)

# The varnex2 executable under QProcess: command line, single instance, a simulated run.
varnex2_test(test_startup
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp ${PROJECT_SOURCE_DIR}/apps/station/station_options.cpp
  LINKS Qt6::Core Qt6::Gui
)
target_include_directories(test_startup PRIVATE ${PROJECT_SOURCE_DIR}/apps/station)
target_compile_definitions(test_startup PRIVATE
  VARNEX2_STATION_BINARY="$<TARGET_FILE:varnex2>" VARNEX2_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(test_startup varnex2)
if(TARGET varnex2-simbox)
  target_compile_definitions(test_startup PRIVATE VARNEX2_SIMBOX_BINARY="$<TARGET_FILE:varnex2-simbox>")
  add_dependencies(test_startup varnex2-simbox)
endif()
