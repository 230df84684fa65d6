# The NT storage stack's Win32 calls behind the pass-through transport's seam.
if(WIN32)
  add_library(nt_storage_win32 STATIC win32/Win32NtStorageApi.cpp)
  target_link_libraries(nt_storage_win32 PUBLIC passthrough_transport advapi32)
  flashupgrade_warnings(nt_storage_win32)
endif()
