# The umockdev adapter of the simulated box. A library of its own, so that only the programs and
# tests that emulate devices link umockdev. Its internal headers are listed too: they include
# umockdev and belong to this library, not to varnex2_sim.
if(TARGET varnex2_sim AND UMOCKDEV_FOUND)
  varnex2_library(varnex2_sim_umockdev
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_box.cpp
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_testbed.h
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_testbed.cpp
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_hidraw.h
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_hidraw.cpp
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_usb_device.h
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_usb_device.cpp
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_usb_drivers.cpp
      ${CMAKE_CURRENT_LIST_DIR}/umockdev_usbfs.cpp
    PUBLIC_LINKS varnex2_sim
    PRIVATE_LINKS PkgConfig::UMOCKDEV)
endif()
