# Tests of the simulated scale: reply layouts, faults, framing, transports
# and the pesolink-sim program.
file(GLOB SIM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sim_*.cpp)
add_executable(sim_tests ${SIM_TEST_SOURCES})
target_link_libraries(sim_tests PRIVATE pesolink_sim GTest::gtest_main)
target_compile_definitions(sim_tests PRIVATE SIM_PROGRAM="$<TARGET_FILE:pesolink-sim>")
add_dependencies(sim_tests pesolink-sim)
gtest_discover_tests(sim_tests DISCOVERY_TIMEOUT 30)
