# The early-bound client of the COM server (Windows only).
if(TARGET pesolink_idl)
  add_executable(early_bound_client early_bound_client.cpp)
  target_link_libraries(early_bound_client PRIVATE pesolink_idl ole32 oleaut32 uuid)
  # wmain: the connection text comes in as UTF-16.
  target_link_options(early_bound_client PRIVATE -municode)
endif()
