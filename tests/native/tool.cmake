# Configuration tool logic against fakes of the window, serial port and driver.
add_executable(tool_tests
  ${CMAKE_CURRENT_LIST_DIR}/tool_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tool_form_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tool_workflow_test.cpp
)
target_link_libraries(tool_tests PRIVATE pesoconf_core GTest::gtest_main)
gtest_discover_tests(tool_tests)

# The probe through the real serial module against the simulated scale on a pty.
add_executable(tool_pty_tests ${CMAKE_CURRENT_LIST_DIR}/tool_probe_pty_test.cpp)
target_link_libraries(tool_pty_tests PRIVATE pesoconf_core pesolink_sim GTest::gtest_main)
gtest_discover_tests(tool_pty_tests)
