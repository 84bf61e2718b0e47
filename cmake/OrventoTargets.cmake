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

# orvento_qt_test(NAME SOURCES... [LIBS ...] [TEST_NAME name] [TIMEOUT s]
#                 [ENVIRONMENT VAR=value...] [LAUNCHER command...])
# A Qt Test program, run by ctest as one test (TEST_NAME, default NAME) with
# the label "app", headless: Qt's offscreen platform, SDL's dummy sound driver,
# loopback traffic kept away from proxies. The test finds the source and build
# trees in ORVENTO_SOURCE_DIR and ORVENTO_BINARY_DIR. LAUNCHER runs the
# program (e.g. dbus-run-session --). Calling it again for the same program
# adds another run of it (e.g. with other ENVIRONMENT).
function(orvento_qt_test name)
  cmake_parse_arguments(ARG "" "TEST_NAME;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LAUNCHER" ${ARGN})
  if(NOT ARG_TEST_NAME)
    set(ARG_TEST_NAME ${name})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if(NOT TARGET ${name})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test Threads::Threads orvento_warnings)
  endif()
  add_test(NAME ${ARG_TEST_NAME} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${name}>)
  set_tests_properties(${ARG_TEST_NAME} PROPERTIES
    LABELS app
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SDL_AUDIODRIVER=dummy;no_proxy=127.0.0.1,localhost;NO_PROXY=127.0.0.1,localhost;ORVENTO_SOURCE_DIR=${PROJECT_SOURCE_DIR};ORVENTO_BINARY_DIR=${PROJECT_BINARY_DIR};${ARG_ENVIRONMENT}")
endfunction()
