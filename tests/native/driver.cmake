# Tests of the driver object and module (settings, log, code pages).
file(GLOB PESOLINK_DRIVER_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/driver_*_test.cpp)
add_executable(driver_tests ${PESOLINK_DRIVER_TEST_SOURCES})
target_link_libraries(driver_tests PRIVATE pesolink_driver GTest::gtest_main)
if(TARGET pesolink_sim)
  target_link_libraries(driver_tests PRIVATE pesolink_sim)
endif()
gtest_discover_tests(driver_tests DISCOVERY_TIMEOUT 60)
