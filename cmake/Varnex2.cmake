# Shared build settings for the project's own targets.

if(VARNEX2_SANITIZE)
  add_compile_options(-fsanitize=${VARNEX2_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VARNEX2_SANITIZE})
endif()

# Warnings as errors for our code only (third-party headers come in as system includes).
function(varnex2_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
  if(VARNEX2_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC's flow analysis under sanitizer instrumentation reports false positives in
    # standard headers (std::regex, std::function).
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()

# varnex2_library(NAME SOURCES ... [PUBLIC_LINKS ...] [PRIVATE_LINKS ...])
function(varnex2_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LINKS;PRIVATE_LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
  varnex2_defaults(${name})
endfunction()

# varnex2_test(NAME SOURCES ... LINKS ... [ENV ...] [LABELS ...]) : one GoogleTest executable
# registered with CTest. Tests that use threads carry the label "threaded".
function(varnex2_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE VARNEX2_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  varnex2_defaults(${name})
  set(env "QT_QPA_PLATFORM=offscreen" ${ARG_ENV})
  string(REPLACE ";" "\\;" env "${env}")
  set(props ENVIRONMENT "${env}" TIMEOUT 300)
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# varnex2_benchmark(NAME SOURCES ... LINKS ...)
function(varnex2_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} benchmark::benchmark benchmark::benchmark_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  varnex2_defaults(${name})
endfunction()

# varnex2_fuzzer(NAME SOURCES ... LINKS ...) : libFuzzer target, built only with clang.
function(varnex2_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  varnex2_defaults(${name})
  set_property(GLOBAL APPEND PROPERTY VARNEX2_FUZZERS ${name})
endfunction()
