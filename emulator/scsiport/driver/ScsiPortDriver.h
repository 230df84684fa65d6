#pragma once

#include <ntddk.h>

#include <stdint.h>

#include "emulator/drive/EmulatedDrive.h"
#include "emulator/scsiport/PassThroughRequestHandler.h"
#include "emulator/scsiport/ScsiPortSettings.h"

// The emulated SCSI port driver: what a machine's port drivers and CD-ROM class driver show a
// program that looks for drives the NT way. From its settings it makes the port devices with
// their DOS names ScsiN:, the SCSI device map, and per emulated drive a device \Device\CdRomN
// with its drive letter; it answers IOCTL_SCSI_GET_INQUIRY_DATA on the ports and the SCSI
// pass-through controls on the drives, running each command on an EmulatedDrive whose flash is
// kept in a file. Its event log records every open (with the access and sharing asked for),
// every I/O control with its envelope, and every close, so that a test sees what the program did.
//
// One request at a time: the dispatch routine holds a mutex while it works.
class ScsiPortDriver {
public:
    static constexpr uint32_t MaxDirectTransfer = 0x10000;  // what the emulated adapters accept

    NTSTATUS Start(PDRIVER_OBJECT driver, PCUNICODE_STRING registryPath);
    NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp);

private:
    struct DeviceExtension {
        bool IsPort;
        uint32_t Index;  // into Ports or drives_
    };

    struct ServedDrive {
        const emulator::ScsiPortSettings::Drive* Settings;
        emulator::EmulatedDrive* Drive;
        uint8_t* Flash;
        uint8_t* Staging;
    };

    struct OpenFile {
        PFILE_OBJECT File;
        PDEVICE_OBJECT Device;
    };
    static constexpr uint32_t MaxOpenFiles = 64;

    NTSTATUS ReadSettings(PCUNICODE_STRING registryPath);
    NTSTATUS SetUpDrive(uint32_t index);
    NTSTATUS CreatePortDevice(PDRIVER_OBJECT driver, uint32_t index);
    NTSTATUS CreateDriveDevice(PDRIVER_OBJECT driver, uint32_t index);
    NTSTATUS CreateDevice(PDRIVER_OBJECT driver, const WCHAR* name, DEVICE_TYPE type, bool isPort, uint32_t index);

    void RecordOpen(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack);
    void RecordClose(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack);
    NTSTATUS Control(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack, PIRP irp, ULONG_PTR& returned);
    NTSTATUS InquiryData(uint32_t portIndex, uint8_t* system, uint32_t outputLength, ULONG_PTR& returned);
    NTSTATUS PassThrough(ServedDrive& served, bool direct, uint8_t* system, uint32_t inputLength,
                         uint32_t outputLength, ULONG_PTR& returned, char* line, size_t room);
    void AfterCommand(ServedDrive& served, uint32_t commitsBefore);
    void WriteCommandLog(const ServedDrive& served);

    // The device's NT name, for the log.
    void NameOf(PDEVICE_OBJECT device, char* out, size_t room) const;
    void Log(const char* line);

    emulator::ScsiPortSettings* settings_ = nullptr;
    ServedDrive drives_[emulator::ScsiPortSettings::MaxDrives] = {};
    OpenFile openFiles_[MaxOpenFiles] = {};
    KMUTEX lock_;
};
