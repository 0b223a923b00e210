# mg_subsystem(NAME DEPS <libs...> TEST_DEPS <libs...>)
#
# Builds every *.cc of the calling folder except *_test.cc into the static
# library marrowgate_<NAME>, and every *_test.cc into the test program
# <NAME>_test, whose cases CTest discovers. Sources of one system only
# (*_posix.cc, *_win.cc) are taken for the system being built for.
function(mg_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  if(tests)
    list(REMOVE_ITEM sources ${tests})
  endif()
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cc$")
    list(FILTER tests EXCLUDE REGEX "_posix_test\\.cc$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win\\.cc$")
    list(FILTER tests EXCLUDE REGEX "_win_test\\.cc$")
  endif()
  set(lib marrowgate_${name})
  if(sources)
    add_library(${lib} STATIC ${sources})
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${lib} PUBLIC ${ARG_DEPS})
  else()
    # A folder with headers only (or nothing yet) still takes part in the graph.
    add_library(${lib} INTERFACE)
    target_include_directories(${lib} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${lib} INTERFACE ${ARG_DEPS})
  endif()
  if(MARROWGATE_TESTS AND tests)
    add_executable(${name}_test ${tests})
    target_link_libraries(${name}_test PRIVATE ${lib} ${ARG_TEST_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name}_test DISCOVERY_MODE PRE_TEST
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      PROPERTIES ENVIRONMENT "MARROWGATE_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endif()
endfunction()
