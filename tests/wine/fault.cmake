# The fault slice and re-entrant calls under Wine through the COM server,
# and the object churn program. ctest.cmake runs them
# (fault.*).
if(TARGET pesolink_com)
  add_executable(fault_wine_tests fault_main.cpp fault_wine_test.cpp SimLink.cpp)
  target_link_libraries(fault_wine_tests PRIVATE gtest pesolink_link pesolink_idl ole32 oleaut32 uuid user32)
  add_dependencies(fault_wine_tests pesolink_com)

  add_executable(churn_wine churn_main.cpp)
  target_link_libraries(churn_wine PRIVATE pesolink_idl ole32 oleaut32 uuid psapi)
  target_link_options(churn_wine PRIVATE -municode)
  add_dependencies(churn_wine pesolink_com)
endif()
