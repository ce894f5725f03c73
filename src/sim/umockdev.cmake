# The umockdev adapter of the simulated box. A library of its own, so that only the programs and
# tests that emulate devices link umockdev.
if(TARGET varnex2_sim AND UMOCKDEV_FOUND)
  varnex2_library(varnex2_sim_umockdev
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/umockdev_box.cpp
    PUBLIC_LINKS varnex2_sim
    PRIVATE_LINKS PkgConfig::UMOCKDEV)
endif()
