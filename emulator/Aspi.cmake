# What an ASPI manager does with a request block when an emulated drive stands behind it, and the
# emulator DLL's configuration: portable, shared by the simulated manager and the DLL.
add_library(aspi_request_handler STATIC wnaspi32/AspiRequestHandler.cpp)
target_link_libraries(aspi_request_handler PUBLIC emulated_drive transport_core)
flashupgrade_warnings(aspi_request_handler)

add_library(config_text STATIC ConfigText.cpp)
target_link_libraries(config_text PUBLIC emulated_drive transport_core)
flashupgrade_warnings(config_text)

add_library(aspi_manager_config STATIC wnaspi32/AspiManagerConfig.cpp)
target_link_libraries(aspi_manager_config PUBLIC config_text)
flashupgrade_warnings(aspi_manager_config)

# The ASPI manager of the transport's tests. It completes requests from std::thread, which the
# win32 thread model of the shipping build does not offer; only test builds have it.
if(FLASHUPGRADE_TESTS)
  find_package(Threads REQUIRED)
  add_library(simulated_aspi_manager STATIC SimulatedAspiManager.cpp)
  target_link_libraries(simulated_aspi_manager PUBLIC aspi_request_handler Threads::Threads)
  flashupgrade_warnings(simulated_aspi_manager)
endif()

# The emulator wnaspi32.dll: lets the real program run end to end in Windows 98 mode. Its own
# threads are CreateThread ones, so that it builds with the win32 thread model we ship.
if(WIN32)
  add_library(wnaspi32 SHARED
    wnaspi32/EmulatedAspiManager.cpp
    wnaspi32/Wnaspi32Exports.cpp
    wnaspi32/wnaspi32.def)
  set_target_properties(wnaspi32 PROPERTIES PREFIX "" OUTPUT_NAME wnaspi32)
  target_link_libraries(wnaspi32 PRIVATE aspi_request_handler aspi_manager_config emulated_drive_file)
  # Nothing but system DLLs beside it: the runtime is linked in.
  target_link_options(wnaspi32 PRIVATE -static -static-libgcc -static-libstdc++)
  flashupgrade_warnings(wnaspi32)
endif()
