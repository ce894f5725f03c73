# Station core sources of varnex2_app.
target_sources(varnex2_app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/station.cpp
)
