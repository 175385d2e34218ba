# Shared helpers for the project's targets.

# Warnings for our own code; third-party headers come in as SYSTEM includes.
function(tervolo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
  if(TERVOLO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# tervolo_library(<target> SOURCES ... LIBS ... [PRIVATE_LIBS ...])
# One library per folder; headers are included as "<folder>/<Header>.hpp"
# (platform: "platform/<sub>/<Header>.hpp").
# LIBS are what the target's headers build on, so its users build on them
# too. PRIVATE_LIBS are implementation details that only its own sources
# include (libcurl, ICU, nlohmann-json, GeographicLib): they do not reach the
# users' include paths, so a user cannot come to depend on them by accident.
function(tervolo_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  if(ARG_PRIVATE_LIBS)
    target_link_libraries(${target} PRIVATE ${ARG_PRIVATE_LIBS})
  endif()
  tervolo_warnings(${target})
endfunction()

# tervolo_tests(<target> [TSAN] SOURCES ... LIBS ...)
# One GoogleTest binary per folder; every test case becomes a ctest test.
# TSAN marks a binary whose tests exercise concurrent code: `make tsan` builds
# and runs those under ThreadSanitizer.
function(tervolo_tests target)
  cmake_parse_arguments(ARG "TSAN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  tervolo_warnings(${target})
  set(labels unit)
  set_property(GLOBAL APPEND PROPERTY TERVOLO_TEST_TARGETS ${target})
  if(ARG_TSAN)
    set(labels tsan)
    set_property(GLOBAL APPEND PROPERTY TERVOLO_TSAN_TARGETS ${target})
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES
      # One variable only: gtest_discover_tests splits a list value into
      # separate property arguments, which would swallow LABELS. Tests find
      # the resources beside their build tree.
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      LABELS "${labels}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# tervolo_bench(<name> SOURCES ... LIBS ...): a Google Benchmark binary in
# <build>/bench, sources under bench/ (registered in bench/CMakeLists.txt; a
# call from anywhere else works too, with paths relative to that folder).
function(tervolo_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(bench_${name} ${ARG_SOURCES})
  target_link_libraries(bench_${name} PRIVATE ${ARG_LIBS} benchmark::benchmark_main Threads::Threads)
  set_target_properties(bench_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  tervolo_warnings(bench_${name})
  set_property(GLOBAL APPEND PROPERTY TERVOLO_BENCH_TARGETS bench_${name})
endfunction()

# tervolo_fuzz(<name> SOURCES ... LIBS ...): a libFuzzer target in
# <build>/fuzz, sources under fuzz/ (registered in fuzz/CMakeLists.txt),
# seed corpus in fuzz/corpus/<name>/.
# Only built in the clang fuzz build (`make fuzz`).
function(tervolo_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT TERVOLO_FUZZ)
    return()
  endif()
  add_executable(fuzz_${name} ${ARG_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set_property(GLOBAL APPEND PROPERTY TERVOLO_FUZZ_TARGETS fuzz_${name})
endfunction()

# tervolo_aggregate(<name> <global property>): a target that builds every
# target listed in the property (filled by the functions above).
function(tervolo_aggregate name property)
  get_property(targets GLOBAL PROPERTY ${property})
  add_custom_target(${name})
  if(targets)
    add_dependencies(${name} ${targets})
  endif()
endfunction()
