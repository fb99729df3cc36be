include(GoogleTest)

# Environment every test runs in: headless Qt, software GL, and sanitizer
# settings (suppressions only name third-party libraries).
set(QUORL_TEST_ENV
  "QT_QPA_PLATFORM=offscreen"
  "LIBGL_ALWAYS_SOFTWARE=true"
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_odr_violation=2"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  "QUORL_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
)

# quorl_add_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [NO_MAIN] [LABELS l1 l2])
# One executable per concept; every GoogleTest case becomes a CTest test,
# carrying the given CTest labels (such as slow).
function(quorl_add_test name)
  cmake_parse_arguments(T "NO_MAIN" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock)
  if(NOT T_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # CTest's list-valued ENVIRONMENT property reaches discovered tests with its
  # first variable only (the list is split on the way): tests and their
  # discovery run through env, which passes them all.
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "/usr/bin/env;${QUORL_TEST_ENV}")
  set(properties TIMEOUT 300)
  if(T_LABELS)
    list(APPEND properties LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ${properties})
endfunction()

# quorl_add_display_test(name TARGET exe FILTER gtest-filter)
# Runs the chosen cases of a window test a second time on a real X server:
# Xvfb through xvfb-run, Qt on xcb (test_main reads QUORL_TEST_QPA). Grabs,
# tooltips, mapping and placement behave there as on a user's display. One
# server at a time; labelled "xvfb" (ctest -L xvfb runs only these).
find_program(XVFB_RUN xvfb-run)
function(quorl_add_display_test name)
  cmake_parse_arguments(T "" "TARGET;FILTER" "" ${ARGN})
  if(NOT XVFB_RUN)
    message(STATUS "xvfb-run not found: ${name} is not registered")
    return()
  endif()
  add_test(NAME ${name}
    COMMAND ${XVFB_RUN} -a -s "-screen 0 1600x1000x24"
            /usr/bin/env ${QUORL_TEST_ENV} QUORL_TEST_QPA=xcb
            $<TARGET_FILE:${T_TARGET}> --gtest_filter=${T_FILTER})
  set_tests_properties(${name} PROPERTIES LABELS xvfb RESOURCE_LOCK xvfb TIMEOUT 120)
endfunction()
