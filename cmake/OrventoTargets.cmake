# Helpers shared by every folder's CMakeLists.txt.

# orvento_library(NAME SOURCES... [LIBS ...])
# A static library of our own code, with the project root as include root.
function(orvento_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE orvento_warnings)
endfunction()

# orvento_test(NAME SOURCES... [LIBS ...] [LABELS ...])
# A GoogleTest program whose cases ctest lists one by one. Tests of the engine
# and its platform layer carry the label "engine": the sanitizer builds run
# exactly those.
function(orvento_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                                        Threads::Threads orvento_warnings)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    # gtest_discover_tests splits every ";" of a property value into separate
    # arguments, so each variable goes through a property of its own.
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "ORVENTO_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               ENVIRONMENT_MODIFICATION "ORVENTO_BINARY_DIR=set:${PROJECT_BINARY_DIR}")
endfunction()
