# GoogleTest: Debian's package natively, compiled from Debian's sources for the cross build.
if(CMAKE_CROSSCOMPILING)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# One test executable per folder; cases are discovered when ctest runs (under Wine for the cross build).
function(tessaly_test name)
  add_executable(${name} ${ARGN})
  tessaly_target_warnings(${name})
  target_link_libraries(${name} PRIVATE GTest::gtest_main tessaly_test_support)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                       PROPERTIES ENVIRONMENT "TESSALY_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
