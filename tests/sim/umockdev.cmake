# Tests of the real USB back-ends against the simulated box's umockdev devices. The umockdev
# preload must be active in the test process: it is linked in (no-as-needed, as nothing refers to
# it by symbol).
if(TARGET varnex2_sim_umockdev)
  function(varnex2_umockdev_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE varnex2_sim_umockdev varnex2_platform
      GTest::gtest GTest::gtest_main
      "-Wl,--push-state,--no-as-needed" umockdev-preload "-Wl,--pop-state")
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
    varnex2_defaults(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS "threaded;umockdev" TIMEOUT 120)
  endfunction()
  varnex2_umockdev_test(test_umockdev_usb ${CMAKE_CURRENT_LIST_DIR}/test_umockdev_usb.cpp)
  varnex2_umockdev_test(test_umockdev_hid ${CMAKE_CURRENT_LIST_DIR}/test_umockdev_hid.cpp)
endif()
