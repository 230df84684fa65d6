#pragma once

#include <ntddk.h>

#include "emulator/scsiport/ScsiPortSettings.h"

// The SCSI device map below HKEY_LOCAL_MACHINE\Hardware\DeviceMap\Scsi, as port drivers leave it:
// "Scsi Port N\Scsi Bus B\Target Id T\Logical Unit Id 0" with the values "Type" and "DeviceName".
// The map is volatile (it describes this boot), so every key below it must be volatile too.
class DeviceMapKeys {
public:
    // Creates the keys of every port, its buses, and every drive's unit. Stops at the first failure.
    static NTSTATUS Create(const emulator::ScsiPortSettings& settings);

private:
    // Opens or creates NAME below PARENT (a full path when PARENT is null).
    static NTSTATUS CreateKey(HANDLE parent, const WCHAR* name, HANDLE* key);
    static NTSTATUS SetText(HANDLE key, const WCHAR* name, const char* ascii);
};
