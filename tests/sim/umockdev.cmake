# Tests of the real USB back-ends against the simulated box's umockdev devices. The umockdev
# preload must be active in the test process: it is linked in (no-as-needed, as nothing refers to
# it by symbol).
if(TARGET varnex2_sim_umockdev)
  # Under ThreadSanitizer the uninstrumented glib/umockdev internals need suppressions.
  set(_umockdev_test_env
    "TSAN_OPTIONS=halt_on_error=1:suppressions=${CMAKE_CURRENT_LIST_DIR}/test_umockdev_tsan.supp")
  function(varnex2_umockdev_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE varnex2_sim_umockdev varnex2_platform
      GTest::gtest GTest::gtest_main
      "-Wl,--push-state,--no-as-needed" umockdev-preload "-Wl,--pop-state")
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
    varnex2_defaults(${name})
    # Every report over the emulated usbfs takes a dozen thread hand-offs between the two cores:
    # these tests run alone, so that parallel tests do not slow them further.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS threaded TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT "${_umockdev_test_env}")
  endfunction()
  varnex2_umockdev_test(test_umockdev_usb ${CMAKE_CURRENT_LIST_DIR}/umockdev_usb_test.cpp)
  varnex2_umockdev_test(test_umockdev_hid ${CMAKE_CURRENT_LIST_DIR}/umockdev_hid_test.cpp)
  varnex2_umockdev_test(test_umockdev_bus ${CMAKE_CURRENT_LIST_DIR}/umockdev_bus_test.cpp)
  target_link_libraries(test_umockdev_bus PRIVATE PkgConfig::LIBUSB PkgConfig::UDEV)

  # varnex2-simbox: its command line, and an ordinary program run against the box through it.
  varnex2_test(test_umockdev_simbox_options
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/umockdev_simbox_options_test.cpp ${PROJECT_SOURCE_DIR}/apps/simbox/simbox_options.cpp
    LINKS varnex2_sim)
  target_include_directories(test_umockdev_simbox_options PRIVATE ${PROJECT_SOURCE_DIR}/apps/simbox)
  if(TARGET varnex2-simbox)
    add_executable(test_umockdev_probe ${CMAKE_CURRENT_LIST_DIR}/umockdev_probe_test.cpp)
    target_link_libraries(test_umockdev_probe PRIVATE varnex2_platform)
    target_include_directories(test_umockdev_probe PRIVATE ${PROJECT_SOURCE_DIR}/src)
    varnex2_defaults(test_umockdev_probe)
    add_test(NAME simbox.runs_a_program_against_the_box
      COMMAND varnex2-simbox -- $<TARGET_FILE:test_umockdev_probe>)
    add_test(NAME simbox.command_line_and_exit_status
      COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/test_umockdev_simbox.sh $<TARGET_FILE:varnex2-simbox>)
    set_tests_properties(simbox.runs_a_program_against_the_box simbox.command_line_and_exit_status PROPERTIES LABELS "threaded;umockdev" TIMEOUT 120
      RUN_SERIAL TRUE ENVIRONMENT "${_umockdev_test_env}")
  endif()
endif()
