# The driver module's Win32 platform layer under Wine: module start and log
# under file faults, at ordinary and at long application-data paths.
# ctest.cmake runs it per test case (driver.*).
add_executable(driver_wine_tests driver_platform_wine_test.cpp)
target_link_libraries(driver_wine_tests PRIVATE pesolink_driver gtest_main)
