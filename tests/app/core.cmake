# Tests of the station core.
if(TARGET varnex2_sim)
  varnex2_test(test_app_station SOURCES ${CMAKE_CURRENT_LIST_DIR}/station_test.cpp
    LINKS varnex2_app varnex2_sim LABELS threaded)
endif()
