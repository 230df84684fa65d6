# FlashUpgrade.exe: the dialog, both transports with their Win32 seams, the resources.
add_executable(FlashUpgrade WIN32
  ${CMAKE_CURRENT_SOURCE_DIR}/win32/WinMain.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/win32/Win32WindowBackend.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/win32/Win32SystemApi.cpp
  ${CMAKE_SOURCE_DIR}/app/resources/FlashUpgrade.rc)
target_link_libraries(FlashUpgrade PRIVATE
  upgrade_app platform_files firmware_slot
  passthrough_transport nt_storage_win32 aspi_transport aspi_win32
  comctl32 comdlg32 advapi32 user32 gdi32)
set_target_properties(FlashUpgrade PROPERTIES OUTPUT_NAME FlashUpgrade)
flashupgrade_warnings(FlashUpgrade)
