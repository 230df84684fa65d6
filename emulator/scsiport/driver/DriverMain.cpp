// The entry of the emulated SCSI port driver: one ScsiPortDriver in pool memory serves every
// device the driver makes.
#include <ntddk.h>

#include <new>

#include "emulator/scsiport/driver/ScsiPortDriver.h"

namespace {

ScsiPortDriver* driverInstance = nullptr;

NTSTATUS NTAPI DispatchAny(PDEVICE_OBJECT device, PIRP irp) {
    return driverInstance->Dispatch(device, irp);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    // No C runtime: nothing constructs globals, so the driver object is made here.
    void* place = ExAllocatePoolWithTag(NonPagedPool, sizeof(ScsiPortDriver), 0x64535345);
    if (place == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    driverInstance = new (place) ScsiPortDriver();
    for (int i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = DispatchAny;
    // Never unloaded: its devices and links last as long as the device host.
    return driverInstance->Start(driver, registryPath);
}
