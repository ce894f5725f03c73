# Station core sources of varnex2_app.
target_sources(varnex2_app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/station.cpp
  ${CMAKE_CURRENT_LIST_DIR}/station_core.h
  ${CMAKE_CURRENT_LIST_DIR}/station_settings.h
  ${CMAKE_CURRENT_LIST_DIR}/station_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/station_texts.h
  ${CMAKE_CURRENT_LIST_DIR}/test_cycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_presence.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core_commands.cpp
)
# The release number written to and compared with parameter files.
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/core_commands.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  VARNEX2_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} VARNEX2_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  VARNEX2_VERSION_PATCH=${PROJECT_VERSION_PATCH} VARNEX2_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})
# The scanner settings the core loads at every connection.
target_link_libraries(varnex2_app PUBLIC varnex2_scanner)
