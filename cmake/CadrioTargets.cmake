# Shared target conventions: warnings, sanitizers, and one library per module
# with its unit tests beside the sources.

function(cadrio_compile_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  # Clang checks every CADRIO_GUARDED_BY / CADRIO_REQUIRES of
  # core/support/thread_annotations.hpp; GCC does not know the attributes.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
  if(CADRIO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
    # GCC 12 reports std::optional members of aggregates as "maybe
    # uninitialized" at -O2 when they are not; keep the warning visible but
    # do not fail the build on it.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      target_compile_options(${target} PRIVATE -Wno-error=maybe-uninitialized)
    endif()
  endif()
endfunction()

# A long fuzz run may leave ASan out (CADRIO_SANITIZERS=undefined): SQLite's
# and JSON's allocations through its allocator make some targets five times
# slower, and the short runs of the test pass keep ASan.
set(CADRIO_SANITIZERS "address,undefined" CACHE STRING "Sanitizers of the CADRIO_SANITIZE build")
if(CADRIO_SANITIZE)
  add_compile_options(-fsanitize=${CADRIO_SANITIZERS} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${CADRIO_SANITIZERS})
endif()

# cadrio_module(<target> [LINK libs...] [TEST_LINK libs...] [TEST_LABELS labels...])
#
# Builds every *.cpp of the calling directory except *_test.cpp into the
# static library <target>. The *_test.cpp files form <target>_tests, run by
# CTest with the label "unit" unless TEST_LABELS says otherwise.
function(cadrio_module target)
  cmake_parse_arguments(ARG "" "" "LINK;TEST_LINK;TEST_LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_test\\.cpp$")
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_LINK})
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    cadrio_compile_options(${target})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_LINK})
  endif()
  if(tests)
    if(NOT ARG_TEST_LABELS)
      set(ARG_TEST_LABELS unit)
    endif()
    cadrio_test(${target}_tests SOURCES ${tests} LINK ${target} ${ARG_TEST_LINK} LABELS ${ARG_TEST_LABELS})
  endif()
endfunction()

# cadrio_test(<target> SOURCES files... LINK libs... LABELS labels...)
function(cadrio_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LINK} GTest::gmock_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  cadrio_compile_options(${target})
  gtest_discover_tests(${target} PROPERTIES LABELS "${ARG_LABELS}" DISCOVERY_TIMEOUT 60)
endfunction()
