# Tests of the COM server under Wine: type library, object, early and late
# binding, error information, exports. The fixtures of
# ctest.cmake register the server and start the simulated scales (com.*).
if(TARGET pesolink_com)
  file(GLOB PESOLINK_COM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/com_*.cpp)
  add_executable(com_wine_tests ${PESOLINK_COM_TEST_SOURCES})
  target_link_libraries(com_wine_tests PRIVATE gtest pesolink_idl ole32 oleaut32 uuid version)
  # The version the server's resource must carry.
  target_compile_definitions(com_wine_tests PRIVATE PESOLINK_EXPECTED_FILE_VERSION=L"${PESOLINK_FILE_VERSION}")
  # The tests load the server DLL; build it with them.
  add_dependencies(com_wine_tests pesolink_com)
endif()
