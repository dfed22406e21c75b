# The pesolink command-line tool run as a program, against the simulated
# scale on TCP and on a pseudo-terminal.
add_executable(cli_tests ${CMAKE_CURRENT_SOURCE_DIR}/cli_tool_test.cpp)
target_link_libraries(cli_tests PRIVATE pesolink_sim GTest::gtest_main)
target_compile_definitions(cli_tests PRIVATE CLI_PROGRAM="$<TARGET_FILE:pesolink>")
add_dependencies(cli_tests pesolink)
gtest_discover_tests(cli_tests DISCOVERY_TIMEOUT 30)
