# The Windows tests as CTest tests (ctest --preset windows / windows32): the
# GoogleTest programs one test per test case, run under Wine through the
# cross-compiling emulator (scripts/wine-run), and the checks of
# scripts/wine-checks one test per step. What they need is started by
# fixtures: the Wine prefix and its server, the simulated scales with their
# COM ports, the Xvfb display. Labels: wine (all), serial, tool, install, slow.

set(PESOLINK_NATIVE_BUILD "${CMAKE_SOURCE_DIR}/build/native" CACHE PATH
    "Native build tree whose sim/pesolink-sim the Windows tests start as the simulated scale")
set(PESOLINK_CHECKS ${CMAKE_SOURCE_DIR}/scripts/wine-checks)

# A test running a check step: bash SCRIPT ARGS... with the trees' paths.
function(pesolink_check name)
  cmake_parse_arguments(PARSE_ARGV 1 C "" "TIMEOUT" "COMMAND;FIXTURES;LABELS;ENV;SETUP;CLEANUP;DEPENDS;LOCK")
  add_test(NAME ${name} COMMAND bash ${C_COMMAND})
  set(env ${PESOLINK_TEST_TREES} ${C_ENV})
  if(NOT C_TIMEOUT)
    set(C_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${C_TIMEOUT}
    LABELS "wine;${C_LABELS}"
    ENVIRONMENT "${env}")
  foreach(prop FIXTURES:FIXTURES_REQUIRED SETUP:FIXTURES_SETUP CLEANUP:FIXTURES_CLEANUP
               DEPENDS:DEPENDS LOCK:RESOURCE_LOCK)
    string(REPLACE ":" ";" pair ${prop})
    list(GET pair 0 key)
    list(GET pair 1 property)
    if(C_${key})
      set_tests_properties(${name} PROPERTIES ${property} "${C_${key}}")
    endif()
  endforeach()
endfunction()

# A fixture NAME: its setup test fixture.NAME.start and its cleanup test
# fixture.NAME.stop, if it has one (each a check step), the setup needing the fixtures of
# REQUIRES.
function(pesolink_fixture name)
  cmake_parse_arguments(PARSE_ARGV 1 F "" "" "START;STOP;REQUIRES;ENV;DEPENDS;LABELS")
  pesolink_check(fixture.${name}.start COMMAND ${F_START} SETUP ${name}
    FIXTURES ${F_REQUIRES} ENV ${F_ENV} DEPENDS ${F_DEPENDS} LABELS ${F_LABELS} TIMEOUT 600)
  if(F_STOP)
    pesolink_check(fixture.${name}.stop COMMAND ${F_STOP} CLEANUP ${name}
      FIXTURES ${F_REQUIRES} ENV ${F_ENV} LABELS ${F_LABELS} TIMEOUT 120)
  endif()
endfunction()

# The test cases of a GoogleTest program, listed from its sources: TEST and
# TEST_F one test each; TEST_P one test for all its instances. The test
# GROUP.gtest-list checks the listing against the program's own.
function(pesolink_gtest_cases target group)
  cmake_parse_arguments(PARSE_ARGV 2 G "" "TIMEOUT" "FIXTURES;LABELS;ENV;LOCK")
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(cases "")
  set(instances "")
  foreach(src IN LISTS sources)
    if(NOT IS_ABSOLUTE ${src})
      set(src ${dir}/${src})
    endif()
    if(NOT src MATCHES "\\.cpp$")
      continue()
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
    file(STRINGS ${src} lines REGEX "^(TEST|TEST_F|TEST_P|INSTANTIATE_TEST_SUITE_P)\\(")
    foreach(line IN LISTS lines)
      if(line MATCHES "^INSTANTIATE_TEST_SUITE_P\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)")
        list(APPEND instances "${CMAKE_MATCH_2}=${CMAKE_MATCH_1}")
      elseif(line MATCHES "^(TEST|TEST_F)\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)\\)")
        list(APPEND cases "${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
      elseif(line MATCHES "^TEST_P\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)\\)")
        list(APPEND cases "@${CMAKE_MATCH_1}@.${CMAKE_MATCH_2}/*")
      endif()
    endforeach()
  endforeach()
  foreach(instance IN LISTS instances)
    string(REPLACE "=" ";" pair ${instance})
    list(GET pair 0 suite)
    list(GET pair 1 prefix)
    list(TRANSFORM cases REPLACE "^@${suite}@" "${prefix}/${suite}")
  endforeach()
  string(REPLACE ";" "\n" listing "${cases}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}.cases "${listing}\n")
  pesolink_check(${group}.gtest-list
    COMMAND ${PESOLINK_CHECKS}/gtest-list.sh ${CMAKE_CURRENT_BINARY_DIR}/${target}.cases
            ${CMAKE_SOURCE_DIR}/scripts/wine-run ${CMAKE_BINARY_DIR} ${PESOLINK_BITS} $<TARGET_FILE:${target}>
    FIXTURES ${G_FIXTURES} LABELS ${G_LABELS} LOCK ${G_LOCK} ENV ${G_ENV} TIMEOUT 120)
  foreach(case IN LISTS cases)
    string(REPLACE "/*" "" name "${group}.${case}")
    add_test(NAME ${name} COMMAND ${target} --gtest_filter=${case})
    set(timeout ${G_TIMEOUT})
    if(NOT timeout)
      set(timeout 120)
    endif()
    set_tests_properties(${name} PROPERTIES
      TIMEOUT ${timeout}
      LABELS "wine;${G_LABELS}"
      ENVIRONMENT "${PESOLINK_TEST_TREES};${G_ENV}"
      FIXTURES_REQUIRED "${G_FIXTURES}"
      # A filter that matches nothing runs nothing: a failure, not a pass
      # (and GROUP.gtest-list fails); a case that skipped itself is shown so.
      FAIL_REGULAR_EXPRESSION "Running 0 tests"
      SKIP_REGULAR_EXPRESSION "\\[  PASSED  \\] 0 tests\\.")
    if(G_LOCK)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${G_LOCK}")
    endif()
  endforeach()
endfunction()

# Each check step ends with its summary ("NAME: N passed, M failed"): keep
# the whole output of passed tests too, in the log and the JUnit file.
file(WRITE ${CMAKE_BINARY_DIR}/CTestCustom.cmake
  "set(CTEST_CUSTOM_MAXIMUM_PASSED_TEST_OUTPUT_SIZE 262144)\n"
  "set(CTEST_CUSTOM_MAXIMUM_FAILED_TEST_OUTPUT_SIZE 1048576)\n")

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(PESOLINK_BITS 64)
  set(PESOLINK_WIN32_TREE "${CMAKE_SOURCE_DIR}/build/windows32" CACHE PATH
      "Windows x86 tree whose driver and pesolink.exe the x64 tests use beside the x64 ones")
  set(PESOLINK_TEST_TREES
    PESOLINK_WIN_BUILD=${CMAKE_BINARY_DIR}
    PESOLINK_WIN32_BUILD=${PESOLINK_WIN32_TREE}
    PESOLINK_NATIVE_BUILD=${PESOLINK_NATIVE_BUILD})
  set(fixture ${PESOLINK_CHECKS}/fixture.sh)
  set(LOCK LOCK wineprefix)

  # --- the prefix, its scales and COM ports ---------------------------------
  pesolink_fixture(wine START ${fixture} wine-start STOP ${fixture} wine-stop)
  foreach(sim
      "link|--com;5;--tcp;0;--pty;@RUN@/sim.pty;--line;57600,0"
      "good|--com;6;--tcp;0;--pty;@RUN@/sim.pty;--line;19200,4"
      "faulty|--tcp;0"
      "scaleA|--com;25;--pty;@RUN@/sim.pty;--line;4800,2"
      "scaleB|--com;26;--pty;@RUN@/sim.pty;--line;4800,2"
      "fault|--com;7;--tcp;0;--pty;@RUN@/sim.pty;--line;0,0"
      "cli|--com;8;--tcp;0;--pty;@RUN@/sim.pty;--line;19200,4")
    string(REPLACE "|" ";" parts "${sim}")
    list(POP_FRONT parts name)
    pesolink_fixture(sim-${name} REQUIRES wine
      START ${fixture} sim-start ${name} ${parts} STOP ${fixture} sim-stop ${name})
  endforeach()

  # --- the scale link ---------------------------------------------------------
  pesolink_check(link.imports COMMAND ${PESOLINK_CHECKS}/link.sh imports TIMEOUT 60)
  pesolink_gtest_cases(link_wine_tests link FIXTURES wine sim-link LABELS serial
    ENV PESOLINK_TEST_ENV=sim-link ${LOCK})
  pesolink_check(link.client COMMAND ${PESOLINK_CHECKS}/link.sh client
    FIXTURES wine sim-link LABELS serial ${LOCK} TIMEOUT 120)

  # --- the driver module's platform layer -------------------------------------
  pesolink_gtest_cases(driver_wine_tests driver FIXTURES wine ${LOCK})

  # --- the COM server ---------------------------------------------------------
  set(com ${PESOLINK_CHECKS}/com.sh)
  pesolink_check(com.imports COMMAND ${com} imports TIMEOUT 60)
  pesolink_check(com.registration COMMAND ${com} registration FIXTURES wine ${LOCK} TIMEOUT 300)
  pesolink_check(com.side-by-side COMMAND ${com} side-by-side FIXTURES wine ${LOCK}
    LABELS slow TIMEOUT 600)
  # The build's DLL registered for the tests below; after the registration
  # checks, which need it unregistered.
  pesolink_fixture(com-registered REQUIRES wine sim-good sim-scaleA sim-scaleB
    START ${com} register STOP ${com} unregister
    DEPENDS com.registration com.side-by-side)
  set(com_fixtures wine com-registered sim-good sim-faulty sim-scaleA sim-scaleB)
  pesolink_gtest_cases(com_wine_tests com FIXTURES ${com_fixtures} LABELS serial
    ENV PESOLINK_TEST_ENV=com "PESOLINK_TEST_PREPARE=bash ${com} prepare" ${LOCK})
  foreach(lang vbs js)
    foreach(mode tcp serial)
      set(labels "")
      if(mode STREQUAL serial)
        set(labels serial)
      endif()
      pesolink_check(com.session.${lang}-${mode} COMMAND ${com} session ${lang} ${mode}
        FIXTURES ${com_fixtures} LABELS ${labels} ${LOCK} TIMEOUT 180)
    endforeach()
  endforeach()
  pesolink_check(com.two-scales COMMAND ${com} two-scales
    FIXTURES ${com_fixtures} LABELS serial ${LOCK} TIMEOUT 180)
  foreach(example client.vbs client.js early_bound_client)
    pesolink_check(com.example.${example} COMMAND ${com} example ${example}
      FIXTURES ${com_fixtures} LABELS serial ${LOCK} TIMEOUT 120)
  endforeach()
  foreach(block vbs js cpp)
    pesolink_check(com.first-session.${block} COMMAND ${com} first-session ${block}
      FIXTURES ${com_fixtures} LABELS serial ${LOCK} TIMEOUT 240)
  endforeach()

  # --- the fault slice and the churn --------------------------------------------
  set(fault ${PESOLINK_CHECKS}/fault.sh)
  pesolink_gtest_cases(fault_wine_tests fault FIXTURES wine com-registered sim-fault
    LABELS serial TIMEOUT 400
    ENV PESOLINK_TEST_ENV=sim-fault "PESOLINK_TEST_PREPARE=bash ${fault} prepare" ${LOCK})
  pesolink_check(fault.churn COMMAND ${fault} churn FIXTURES wine com-registered sim-fault
    LABELS slow ${LOCK} TIMEOUT 1800)

  # --- pesolink.exe -------------------------------------------------------------
  set(cli ${PESOLINK_CHECKS}/cli.sh)
  pesolink_check(cli.imports COMMAND ${cli} imports TIMEOUT 60)
  foreach(step weight info watch)
    pesolink_check(cli.${step} COMMAND ${cli} ${step} FIXTURES wine sim-cli
      LABELS serial ${LOCK} TIMEOUT 300)
  endforeach()

  # --- the configuration tool: a prefix of its own, a display ---------------------
  set(tool_dir ${CMAKE_BINARY_DIR}/tool-e2e)
  pesolink_fixture(xvfb START ${fixture} xvfb-start STOP ${fixture} xvfb-stop LABELS tool)
  pesolink_fixture(tool-wine REQUIRES xvfb ENV PESOLINK_TEST_ENV=xvfb LABELS tool
    START ${fixture} wine-start ${tool_dir} STOP ${fixture} wine-stop ${tool_dir})
  pesolink_fixture(tool-prefix REQUIRES xvfb tool-wine ENV PESOLINK_TEST_ENV=xvfb LABELS tool
    START ${PESOLINK_CHECKS}/tool.sh setup STOP ${PESOLINK_CHECKS}/tool.sh finish)
  pesolink_fixture(sim-tool REQUIRES tool-wine LABELS tool
    START ${fixture} sim-start tool --prefix ${tool_dir} --com 5 --tcp 0 --pty @RUN@/sim.pty --line 4800,2
    STOP ${fixture} sim-stop tool)
  pesolink_check(tool.files COMMAND ${PESOLINK_CHECKS}/tool.sh files LABELS tool TIMEOUT 60)
  pesolink_gtest_cases(tool_wine_e2e tool FIXTURES xvfb tool-wine tool-prefix sim-tool
    LABELS tool serial TIMEOUT 400 LOCK tool-prefix
    ENV PESOLINK_TEST_PREFIX_DIR=${tool_dir} "PESOLINK_TEST_ENV=xvfb sim-tool tool")
else()
  # --- the x86 tree: the installer of both bitnesses ----------------------------
  set(PESOLINK_BITS 32)
  set(PESOLINK_WIN64_TREE "${CMAKE_SOURCE_DIR}/build/windows" CACHE PATH
      "Windows x64 tree packed with this one into the installer")
  set(PESOLINK_TEST_TREES
    PESOLINK_WIN_BUILD=${PESOLINK_WIN64_TREE}
    PESOLINK_WIN32_BUILD=${CMAKE_BINARY_DIR}
    PESOLINK_NATIVE_BUILD=${PESOLINK_NATIVE_BUILD}
    PESOLINK_FIXTURES=${CMAKE_BINARY_DIR}/fixtures)
  set(fixture ${PESOLINK_CHECKS}/fixture.sh)
  set(install ${PESOLINK_CHECKS}/install.sh)
  set(harness ${CMAKE_BINARY_DIR}/install/wine-install)
  pesolink_fixture(install-package LABELS install START ${install} pack)
  pesolink_fixture(install-prefix LABELS install
    START ${fixture} wine-start ${harness} --fresh STOP ${fixture} wine-stop ${harness})
  pesolink_fixture(sim-install REQUIRES install-prefix LABELS install
    START ${fixture} sim-start install --tcp 0 STOP ${fixture} sim-stop install)
  pesolink_check(install.package COMMAND ${install} package FIXTURES install-package
    LABELS install TIMEOUT 120)
  set(previous "")
  foreach(step user machine damaged blocked win32)
    pesolink_check(install.${step} COMMAND ${install} ${step}
      FIXTURES install-package install-prefix sim-install DEPENDS ${previous}
      LABELS install slow LOCK install-prefix TIMEOUT 600)
    set(previous install.${step})
  endforeach()
endif()
