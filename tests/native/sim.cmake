# Tests of the simulated scale: reply layouts, faults, framing, transports.
file(GLOB SIM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sim_*.cpp)
add_executable(sim_tests ${SIM_TEST_SOURCES})
target_link_libraries(sim_tests PRIVATE pesolink_sim GTest::gtest_main)
gtest_discover_tests(sim_tests DISCOVERY_TIMEOUT 30)
