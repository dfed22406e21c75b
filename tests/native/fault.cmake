# The fault matrix, re-entrant calls and the stress run of the worker
# hand-off, against the simulated scale over TCP and a pseudo-terminal.
if(TARGET pesolink_sim)
  file(GLOB PESOLINK_FAULT_TEST_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/fault_*_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/stress_*test.cpp)
  add_executable(fault_tests ${PESOLINK_FAULT_TEST_SOURCES})
  target_link_libraries(fault_tests PRIVATE pesolink_driver pesolink_sim GTest::gtest_main)
  gtest_discover_tests(fault_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
