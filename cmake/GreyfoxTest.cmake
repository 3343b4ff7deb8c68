# greyfox_add_test(NAME SOURCES file... LIBS lib...)
# One test executable per group of related cases, run by CTest as one test.
function(greyfox_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Tests relocate every path under a root of their own.
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "GREYFOX_BIN_DIR=${CMAKE_BINARY_DIR}/bin;GREYFOX_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()
