#include "emulator/scsiport/driver/DeviceMapKeys.h"

#include "emulator/scsiport/driver/KernelText.h"

using emulator::ScsiPortSettings;

NTSTATUS DeviceMapKeys::CreateKey(HANDLE parent, const WCHAR* name, HANDLE* key) {
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, parent, nullptr);
    ULONG disposition;
    return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_VOLATILE, &disposition);
}

NTSTATUS DeviceMapKeys::SetText(HANDLE key, const WCHAR* name, const char* ascii) {
    const WideName value(ascii);
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    return ZwSetValueKey(key, &valueName, 0, REG_SZ, const_cast<WCHAR*>(value.Data()),
                         static_cast<ULONG>((value.Length() + 1) * sizeof(WCHAR)));
}

NTSTATUS DeviceMapKeys::Create(const ScsiPortSettings& settings) {
    // The map itself exists and is volatile; open it from its parent, as a creation.
    HANDLE deviceMap;
    NTSTATUS status = CreateKey(nullptr, L"\\Registry\\Machine\\Hardware\\DeviceMap", &deviceMap);
    if (!NT_SUCCESS(status)) return status;
    HANDLE scsi;
    status = CreateKey(deviceMap, L"Scsi", &scsi);
    ZwClose(deviceMap);
    if (!NT_SUCCESS(status)) return status;

    for (uint32_t p = 0; p < settings.PortCount && NT_SUCCESS(status); ++p) {
        const ScsiPortSettings::Port& port = settings.Ports[p];
        HANDLE portKey;
        status = CreateKey(scsi, WideName("Scsi Port ").Decimal(port.Number).Data(), &portKey);
        if (!NT_SUCCESS(status)) break;
        // Every bus the port reports has a key, and so has every bus a drive sits on, reported or not.
        uint32_t buses = port.Buses;
        for (uint32_t d = 0; d < settings.DriveCount; ++d) {
            const ScsiPortSettings::Drive& drive = settings.Drives[d];
            if (drive.Port == port.Number && drive.Bus + 1u > buses) buses = drive.Bus + 1u;
        }
        for (uint32_t bus = 0; bus < buses && NT_SUCCESS(status); ++bus) {
            HANDLE busKey;
            status = CreateKey(portKey, WideName("Scsi Bus ").Decimal(bus).Data(), &busKey);
            if (!NT_SUCCESS(status)) break;
            for (uint32_t d = 0; d < settings.DriveCount && NT_SUCCESS(status); ++d) {
                const ScsiPortSettings::Drive& drive = settings.Drives[d];
                if (drive.Port != port.Number || drive.Bus != bus) continue;
                HANDLE target;
                status = CreateKey(busKey, WideName("Target Id ").Decimal(drive.Target).Data(), &target);
                if (!NT_SUCCESS(status)) break;
                HANDLE unit;
                status = CreateKey(target, L"Logical Unit Id 0", &unit);
                ZwClose(target);
                if (!NT_SUCCESS(status)) break;
                status = SetText(unit, L"Type", drive.MapType);
                if (NT_SUCCESS(status) && drive.HasMapDeviceName) {
                    status = SetText(unit, L"DeviceName", drive.MapDeviceName);
                }
                ZwClose(unit);
            }
            ZwClose(busKey);
        }
        ZwClose(portKey);
    }
    ZwClose(scsi);
    return status;
}
