# Shared compile settings and helpers for every target of the project.

add_library(kwz_options INTERFACE)
target_compile_options(kwz_options INTERFACE -Wall -Wextra)
target_include_directories(kwz_options INTERFACE ${PROJECT_SOURCE_DIR})
if(KWZ_WERROR)
  target_compile_options(kwz_options INTERFACE -Werror)
endif()

if(KWZ_SANITIZE STREQUAL "address")
  set(_kwz_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(KWZ_SANITIZE STREQUAL "thread")
  set(_kwz_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT KWZ_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KWZ_SANITIZE must be '', 'address' or 'thread'")
endif()
if(_kwz_san)
  target_compile_options(kwz_options INTERFACE ${_kwz_san})
  target_link_options(kwz_options INTERFACE ${_kwz_san})
endif()
# Line coverage with clang's source-based instrumentation (scripts/coverage.sh).
if(KWZ_COVERAGE)
  target_compile_options(kwz_options INTERFACE -fprofile-instr-generate -fcoverage-mapping)
  target_link_options(kwz_options INTERFACE -fprofile-instr-generate)
endif()
# The fuzz tree gives libFuzzer coverage of the system's own code, not only of the fuzz target.
# A coverage tree only replays corpora, and its tests must link without libFuzzer's runtime.
if(KWZ_FUZZ AND NOT KWZ_COVERAGE)
  target_compile_options(
    kwz_options INTERFACE -fsanitize=fuzzer-no-link
    -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/fuzz/coverage-ignore.txt)
endif()

# kwz_library(name SOURCES ... DEPS ... PRIVATE_DEPS ...): one folder, one static library.
function(kwz_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC kwz_options ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# The suites marked CONCURRENCY, with what they start: the ThreadSanitizer run builds only these.
add_custom_target(kwz_concurrency_tests)

# kwz_test(name SOURCES ... DEPS ... [CONCURRENCY] [RESOURCE_LOCK lock])
# CONCURRENCY marks a suite that the ThreadSanitizer run executes; RESOURCE_LOCK keeps the
# suite's tests from running beside others that name the same lock.
function(kwz_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "RESOURCE_LOCK" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kwz_options ${ARG_DEPS} GTest::gtest GTest::gtest_main
                                        Threads::Threads)
  set(_label unit)
  if(ARG_CONCURRENCY)
    set(_label concurrency)
    add_dependencies(kwz_concurrency_tests ${name})
  endif()
  set(_properties LABELS ${_label} TIMEOUT 120)
  if(ARG_RESOURCE_LOCK)
    list(APPEND _properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  # Plain names: parameter values would put raw bytes (padding included) into test names.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES ${_properties})
endfunction()
