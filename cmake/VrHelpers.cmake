# vr_library(NAME SOURCES... [DEPS libs...])  a static library of one layer.
function(vr_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
endfunction()

# vr_test(NAME SOURCES... [DEPS libs...])  a GoogleTest program registered with CTest.
function(vr_test name)
  if(NOT VR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  # One value per property: a list-valued ENVIRONMENT loses all but its first entry on its way
  # through gtest_discover_tests.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VR_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
               ENVIRONMENT_MODIFICATION "VR_BINARY_DIR=set:${CMAKE_BINARY_DIR}")
endfunction()

# vr_fuzzer(NAME SOURCES... [DEPS libs...])  a libFuzzer target, built only with clang.
function(vr_fuzzer name)
  if(NOT VR_BUILD_FUZZERS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
endfunction()
