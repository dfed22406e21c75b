# End-to-end test of Pesoconf.exe: a Windows program that drives the tool's
# window from outside against the simulated scale. ctest.cmake
# runs it per test case with its fixtures (tool.*).
add_executable(tool_wine_e2e
  ${CMAKE_CURRENT_LIST_DIR}/tool_e2e_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimLink.cpp
)
target_link_libraries(tool_wine_e2e PRIVATE pesolink_link gtest_main user32 gdi32)
