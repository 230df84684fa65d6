# FlashUpgrade.exe: the dialog, both transports with their Win32 seams, the resources.
include(${CMAKE_SOURCE_DIR}/cmake/LeanProgram.cmake)

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
flashupgrade_lean_program(FlashUpgrade)
# Only the headless tests use this backend, and it throws on a control the template lacks.
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/HeadlessWindowBackend.cpp
  TARGET_DIRECTORY dialog_framework PROPERTIES COMPILE_OPTIONS -fexceptions)
