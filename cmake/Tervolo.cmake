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
  tervolo_unity_build(${target})
  set_property(GLOBAL APPEND PROPERTY TERVOLO_LIBRARY_TARGETS ${target})
endfunction()

# Sources are compiled eight to a unit: the headers and templates every file
# of a target instantiates again cost more than most files' own code, and a
# unity build took less than half the compile time (a library's helpers in
# anonymous namespaces therefore need names of their own within it). Inside a
# unit a source's anonymous namespace sits in an included file, which g++
# would report as if it were a header's. TERVOLO_UNITY_BUILD=OFF compiles
# every file alone, which finds a missing include.
function(tervolo_unity_build target)
  if(TERVOLO_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
    target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
  endif()
endfunction()

# Test code is built for a quick build, not for speed: the code under test
# keeps its optimisation (-O3 in the release build, -O1 in the sanitizer
# build) and the tests' own sources take -O0. (-O1 would be as slow to compile
# as -O0 is quick, and makes g++ 12 report false array bounds inside
# std::string.)
function(tervolo_test_code_options target)
  target_compile_options(${target} PRIVATE -O0)
  tervolo_unity_build(${target})
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
  tervolo_test_code_options(${target})
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
# Only built with TERVOLO_FUZZ: the clang ASan/UBSan build that `make sanitize`
# and `make fuzz` share.
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

# tervolo_qt_kind(<target> <out>): "widgets" when the target builds on Qt
# Widgets, directly or through what it links, "core" when it builds on other
# Qt modules only, "" without Qt.
function(tervolo_qt_kind target out)
  set(seen "")
  set(queue ${target})
  set(kind "")
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    if(current MATCHES "^Qt6?::Widgets$")
      set(${out} widgets PARENT_SCOPE)
      return()
    elseif(current MATCHES "^Qt6?::")
      set(kind core)
    endif()
    if(NOT TARGET ${current})
      continue()
    endif()
    get_target_property(type ${current} TYPE)
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${current} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link ${links})
      if(link MATCHES "^\\$<LINK_ONLY:([^>]+)>$")
        list(APPEND queue ${CMAKE_MATCH_1})
      elseif(NOT link MATCHES "\\$<")
        list(APPEND queue ${link})
      endif()
    endforeach()
  endwhile()
  set(${out} "${kind}" PARENT_SCOPE)
endfunction()

# tervolo_share_test_headers(): every test binary reuses one of three
# precompiled headers (without Qt, with Qt but no Widgets, with Qt Widgets),
# so the test framework and the standard library are parsed once per build
# instead of once per test source. A header is only reused between targets
# whose compile flags match (Qt's targets add -fPIC), hence three donors made
# the way tervolo_tests makes a test binary. Called once, after every folder
# has added its tests.
function(tervolo_share_test_headers)
  get_property(tests GLOBAL PROPERTY TERVOLO_TEST_TARGETS)
  foreach(test ${tests})
    tervolo_qt_kind(${test} kind)
    if(kind STREQUAL "widgets")
      set(donor tervolo_test_headers_widgets)
      set(header ${CMAKE_SOURCE_DIR}/cmake/pch/WidgetTestHeaders.hpp)
      set(qt Qt6::Widgets)
    elseif(kind STREQUAL "core")
      set(donor tervolo_test_headers_qtcore)
      set(header ${CMAKE_SOURCE_DIR}/cmake/pch/TestHeaders.hpp)
      set(qt Qt6::Core)
    else()
      set(donor tervolo_test_headers)
      set(header ${CMAKE_SOURCE_DIR}/cmake/pch/TestHeaders.hpp)
      set(qt "")
    endif()
    if(NOT TARGET ${donor})
      if(qt)
        # Qt's imported targets are visible only in the folders that found Qt.
        find_package(Qt6 REQUIRED COMPONENTS Core Widgets)
      endif()
      add_executable(${donor} EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/cmake/pch/TestHeaders.cpp)
      target_link_libraries(${donor} PRIVATE ${qt} GTest::gmock GTest::gtest Threads::Threads)
      tervolo_warnings(${donor})
      tervolo_test_code_options(${donor})
      target_precompile_headers(${donor} PRIVATE ${header})
    endif()
    target_precompile_headers(${test} REUSE_FROM ${donor})
    # A source with compile options of its own (the unwinders' fixtures) would
    # not match the shared header.
    get_target_property(sources ${test} SOURCES)
    get_target_property(dir ${test} SOURCE_DIR)
    foreach(source ${sources})
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir})
      get_source_file_property(options ${source} DIRECTORY ${dir} COMPILE_OPTIONS)
      if(options)
        set_source_files_properties(${source} DIRECTORY ${dir} PROPERTIES SKIP_PRECOMPILE_HEADERS ON
                                    SKIP_UNITY_BUILD_INCLUSION ON)
      endif()
    endforeach()
  endforeach()
endfunction()

# tervolo_included_headers(<file> <out headers> <out project files>): the
# <...> headers <file> includes, and the files of this repository it includes
# with "..." (searched from the source root and beside <file>). Remembered per
# file, as the same headers are read for many targets.
function(tervolo_included_headers file out_headers out_files)
  get_property(known GLOBAL PROPERTY "TERVOLO_INCLUDES_KNOWN:${file}" SET)
  if(NOT known)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    set(headers "")
    set(files "")
    cmake_path(GET file PARENT_PATH dir)
    foreach(line ${lines})
      if(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
        list(APPEND headers "${CMAKE_MATCH_1}")
      elseif(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
        if(EXISTS ${CMAKE_SOURCE_DIR}/${CMAKE_MATCH_1})
          list(APPEND files ${CMAKE_SOURCE_DIR}/${CMAKE_MATCH_1})
        elseif(EXISTS ${dir}/${CMAKE_MATCH_1})
          list(APPEND files ${dir}/${CMAKE_MATCH_1})
        endif()
      endif()
    endforeach()
    set_property(GLOBAL PROPERTY "TERVOLO_INCLUDES_KNOWN:${file}" TRUE)
    set_property(GLOBAL PROPERTY "TERVOLO_INCLUDES_HEADERS:${file}" "${headers}")
    set_property(GLOBAL PROPERTY "TERVOLO_INCLUDES_FILES:${file}" "${files}")
  endif()
  get_property(headers GLOBAL PROPERTY "TERVOLO_INCLUDES_HEADERS:${file}")
  get_property(files GLOBAL PROPERTY "TERVOLO_INCLUDES_FILES:${file}")
  set(${out_headers} "${headers}" PARENT_SCOPE)
  set(${out_files} "${files}" PARENT_SCOPE)
endfunction()

# tervolo_precompile_library_headers(): each library of several sources
# precompiles the outside headers its sources reach (directly or through this
# repository's headers): the C++ standard library, Qt, fmt, nlohmann-json,
# GeographicLib. Parsing Qt Widgets' headers was most of the compile time of a
# screen's source. A source that does not reach Qt compiles without the
# header: Qt's headers define `slots`, `signals` and `emit`, which such a
# source may use as names. C and system headers stay out: they define macros
# (syslog's LOG_*, ucontext's REG_*) that other sources of the library must
# not see. Called once, after every folder has added its libraries.
function(tervolo_precompile_library_headers)
  get_property(libraries GLOBAL PROPERTY TERVOLO_LIBRARY_TARGETS)
  foreach(library ${libraries})
    get_target_property(sources ${library} SOURCES)
    get_target_property(dir ${library} SOURCE_DIR)
    set(roots "")
    foreach(source ${sources})
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir})
      if(source MATCHES "\\.cpp$" AND EXISTS ${source})
        list(APPEND roots ${source})
      endif()
      # A source with compile options of its own would not match the header.
      get_source_file_property(options ${source} DIRECTORY ${dir} COMPILE_OPTIONS)
      if(options)
        set_source_files_properties(${source} DIRECTORY ${dir} PROPERTIES SKIP_PRECOMPILE_HEADERS ON
                                    SKIP_UNITY_BUILD_INCLUSION ON)
      endif()
    endforeach()
    list(LENGTH roots count)
    if(count LESS 4)
      continue()
    endif()
    set(headers "")
    set(without_qt "")
    foreach(root ${roots})
      set(queue ${root})
      set(seen "")
      set(has_qt FALSE)
      while(queue)
        list(POP_FRONT queue file)
        if(file IN_LIST seen)
          continue()
        endif()
        list(APPEND seen ${file})
        tervolo_included_headers(${file} file_headers file_includes)
        foreach(header ${file_headers})
          if(header MATCHES "^Q[A-Za-z]+$")
            set(has_qt TRUE)
          endif()
        endforeach()
        list(APPEND headers ${file_headers})
        list(APPEND queue ${file_includes})
      endwhile()
      if(NOT has_qt)
        list(APPEND without_qt ${root})
      endif()
    endforeach()
    list(REMOVE_DUPLICATES headers)
    set(precompiled "")
    set(library_has_qt FALSE)
    foreach(header ${headers})
      if(header MATCHES "^([a-z_]+|Q[A-Za-z]+)$" OR header MATCHES "^(fmt|nlohmann|GeographicLib)/")
        list(APPEND precompiled "<${header}>")
      endif()
      if(header MATCHES "^Q[A-Za-z]+$")
        set(library_has_qt TRUE)
      endif()
    endforeach()
    if(library_has_qt AND without_qt)
      set_source_files_properties(${without_qt} DIRECTORY ${dir} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    endif()
    if(precompiled)
      list(SORT precompiled)
      target_precompile_headers(${library} PRIVATE ${precompiled})
    endif()
  endforeach()
endfunction()
