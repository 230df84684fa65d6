# The ASPI manager's loader: LoadLibraryA, GetProcAddress, FreeLibrary.
if(WIN32)
  add_library(aspi_win32 STATIC win32/Win32AspiApi.cpp)
  target_include_directories(aspi_win32 PUBLIC ${CMAKE_SOURCE_DIR})
  flashupgrade_warnings(aspi_win32)
endif()
