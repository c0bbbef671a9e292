# tg_add_test(name SOURCES ... LIBS ... [ENV ...] [RESOURCE_LOCK lock] [SERIAL]
#             [LABEL unit|integration|e2e] [FIXTURES fixture...]):
# one GoogleTest program whose cases ctest lists one by one (run through Wine
# in the Windows build). Cases that share a lock never run at the same time;
# SERIAL cases run alone (they open the program's windows, which take the
# focus from the dialogs other tests drive). LABEL (unit unless given) is
# what `ctest -L` selects by: unit for code on its own, integration for real
# sessions, servers, processes or drives, e2e for the whole program.
# FIXTURES names ctest fixtures its cases need (tls_certs: the run's test
# certificates).
if(BUILD_TESTING AND NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
include(GoogleTest)

function(tg_add_test name)
  if(TOLLGROVE_FUZZ)
    return() # the fuzz build holds only harnesses
  endif()
  cmake_parse_arguments(T "SERIAL" "TIMEOUT;RESOURCE_LOCK;LABEL" "SOURCES;LIBS;ENV;FIXTURES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TG_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TG_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  set(lock LABELS ${T_LABEL})
  if(T_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  if(T_SERIAL)
    list(APPEND lock RUN_SERIAL TRUE)
  endif()
  if(T_FIXTURES)
    list(APPEND lock FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
  # An empty ENVIRONMENT would take the next property's name as its value.
  if(T_ENV)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENV}" ${lock})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT ${T_TIMEOUT} ${lock})
  endif()
endfunction()

# tg_add_fuzzer(name SOURCES ... LIBS ... [MAX_LEN n] [SEEDS dir]): a
# libFuzzer harness (fuzz preset only) that ctest runs for
# TOLLGROVE_FUZZ_SECONDS, inputs up to MAX_LEN bytes (libFuzzer's default
# otherwise), starting from the seed inputs in SEEDS; longer on demand with
#   build/fuzz/tests/<folder>/<name> -max_total_time=600 -max_len=n <corpus> <seeds>
function(tg_add_fuzzer name)
  if(NOT TOLLGROVE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "MAX_LEN;SEEDS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  file(MAKE_DIRECTORY ${corpus})
  set(options)
  if(F_MAX_LEN)
    list(APPEND options -max_len=${F_MAX_LEN})
  endif()
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${TOLLGROVE_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=1
    ${options} ${corpus} ${F_SEEDS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS fuzz)
endfunction()
