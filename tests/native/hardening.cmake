# Hardening: oversized inputs, the log and the settings under faults, and the
# regression cases of what the fuzz targets (tests/fuzz) found.
file(GLOB HARDENING_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/hardening_*_test.cpp)
if(HARDENING_TEST_SOURCES AND TARGET pesolink_sim)
  add_executable(hardening_tests ${HARDENING_TEST_SOURCES})
  target_link_libraries(hardening_tests PRIVATE pesolink_driver pesolink_sim GTest::gtest_main)
  gtest_discover_tests(hardening_tests DISCOVERY_TIMEOUT 60)
endif()
