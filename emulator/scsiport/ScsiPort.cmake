# The emulated SCSI port driver: the machine it makes is read from a text file by its set-up
# tool (portable, tested on the build machine too), which stores fixed-size settings for the
# driver in the registry.
add_library(scsiport_config STATIC scsiport/ScsiPortConfig.cpp)
target_link_libraries(scsiport_config PUBLIC config_text)
flashupgrade_warnings(scsiport_config)

if(NOT WIN32)
  return()
endif()

add_executable(scsiport-setup scsiport/setup/ScsiPortSetup.cpp)
target_link_libraries(scsiport-setup PRIVATE scsiport_config advapi32)
target_link_options(scsiport-setup PRIVATE -static -static-libgcc -static-libstdc++)
flashupgrade_warnings(scsiport-setup)

# The driver: freestanding C++ (no C runtime, no exceptions, nothing that needs constructors run
# before DriverEntry), importing only ntoskrnl.exe and, for the caller's memory, kernelbase.dll.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(scsiport_arch i686)
  set(scsiport_entry _DriverEntry@8)
  set(scsiport_dlltool ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool -k)
else()
  set(scsiport_arch x86_64)
  set(scsiport_entry DriverEntry)
  set(scsiport_dlltool x86_64-w64-mingw32-dlltool)
endif()
set(scsiport_kernelbase ${CMAKE_CURRENT_BINARY_DIR}/libkernelbase-driver.a)
add_custom_command(OUTPUT ${scsiport_kernelbase}
  COMMAND ${scsiport_dlltool} -d ${CMAKE_CURRENT_SOURCE_DIR}/scsiport/driver/kernelbase-${scsiport_arch}.def
          -l ${scsiport_kernelbase}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/scsiport/driver/kernelbase-${scsiport_arch}.def
  COMMENT "Import library for the driver's kernelbase calls")
add_custom_target(scsiport_kernelbase DEPENDS ${scsiport_kernelbase})

add_library(EmulatedScsiPort SHARED
  scsiport/driver/DriverMain.cpp
  scsiport/driver/ScsiPortDriver.cpp
  scsiport/driver/CallerProcess.cpp
  scsiport/driver/DeviceMapKeys.cpp
  scsiport/driver/KernelFiles.cpp
  # The drive and the port's answers, compiled again with the driver's flags.
  DriveConfig.cpp
  EmulatedDrive.cpp
  PassThroughRequestHandler.cpp
  PortInquiryData.cpp
  DriveLogText.cpp)
add_dependencies(EmulatedScsiPort scsiport_kernelbase)
set_target_properties(EmulatedScsiPort PROPERTIES PREFIX "" SUFFIX ".sys" OUTPUT_NAME EmulatedScsiPort)
target_include_directories(EmulatedScsiPort PRIVATE ${CMAKE_SOURCE_DIR})
target_include_directories(EmulatedScsiPort SYSTEM PRIVATE ${CMAKE_FIND_ROOT_PATH}/include/ddk)
# The DDK's own bit-test helpers clash with the compiler's intrinsics in C++: keep the DDK's.
target_compile_definitions(EmulatedScsiPort PRIVATE
  __INTRINSIC_DEFINED_InterlockedBitTestAndSet __INTRINSIC_DEFINED_InterlockedBitTestAndReset)
target_compile_options(EmulatedScsiPort PRIVATE
  -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables)
target_link_options(EmulatedScsiPort PRIVATE
  -nostdlib -nostartfiles -Wl,--subsystem,native -Wl,--entry,${scsiport_entry} -Wl,--no-insert-timestamp -Wl,--exclude-all-symbols)
target_link_libraries(EmulatedScsiPort PRIVATE ${scsiport_kernelbase} ntoskrnl gcc)
flashupgrade_warnings(EmulatedScsiPort)
# The set-up tool installs the driver found beside it.
add_dependencies(scsiport-setup EmulatedScsiPort)
