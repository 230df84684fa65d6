#pragma once

#include <cstdint>

#include "transport/DriveCommandSet.h"
#include "transport/DriveTransport.h"
#include "transport/NtStorageApi.h"
#include "transport/ScopedHandle.h"
#include "transport/ScsiPassThrough.h"

// The drive-access layer of the NT family. Finds CD/DVD drives by walking the registry's SCSI
// device map together with each port driver's inquiry data, resolves every candidate to its drive
// letter, and sends each command through a SCSI pass-through I/O control on a handle to the
// drive's DOS device (\\.\D: and the like).
//
// Windows 2000 and later refuse pass-through on a handle opened for reading only, NT 4 does not
// need write access and may refuse it: the open asks for what the running version wants
// (OsVersionInfo.dwMajorVersion).
class PassThroughTransport final : public DriveTransport {
public:
    static constexpr uint32_t InquiryDataBufferSize = 2048;
    static constexpr uint32_t InquiryTransferLength = 512;
    static constexpr uint32_t IdentityTransferLength = DriveCommandSet::PassThroughAllocationLength;
    static constexpr uint8_t SenseRequested = 24;
    static constexpr uint32_t TimeOutSeconds = 256;

    // Reads the number of SCSI ports from the registry; Usable says whether that worked.
    explicit PassThroughTransport(NtStorageApi& storage);
    // Releases nothing: CloseDevice closes the drive, the scan closes what it opens.
    ~PassThroughTransport() override;

    // The scan's port or drive for one step at a time, then the drive from OpenDevice to
    // CloseDevice; InvalidHandle otherwise.
    NtStorageApi::Handle DeviceHandle = NtStorageApi::InvalidHandle;

    void EnumerateDevices(DeviceList& list) override;
    int InquireDevice() override;
    int IdentifyController() override;
    int OpenDevice(const DeviceRecord& record) override;
    void CloseDevice() override;
    int ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int CommitFirmware() override;

private:
    // Port numbers, bus numbers and target ids run from 0 to 254.
    static constexpr unsigned NumberLimit = 255;

    // Keys and handles are closed through the seam that opened them.
    struct KeyTraits {
        using Handle = NtStorageApi::Key;
        static constexpr Handle Invalid = 0;  // RegOpenKeyExA never hands out a null key
        NtStorageApi& Storage;
        void Close(Handle key) const { Storage.CloseKey(key); }
    };
    struct DeviceHandleTraits {
        using Handle = NtStorageApi::Handle;
        static constexpr Handle Invalid = NtStorageApi::InvalidHandle;
        NtStorageApi& Storage;
        void Close(Handle handle) const { Storage.CloseDeviceHandle(handle); }
    };
    using KeyHolder = ScopedHandle<KeyTraits>;
    // Holds the handle in DeviceHandle, where the commands sent meanwhile find it.
    using DeviceHandleHolder = ScopedHandle<DeviceHandleTraits>;

    // RegOpenKeyExA below HKEY_LOCAL_MACHINE, for reading, into KEY; the seam's error code.
    int32_t OpenForReading(const char* path, KeyHolder& key);

    // The scan's levels. LETTERED counts, within one scan, the units that got a drive letter.
    int KeyExists(const char* path);
    int PortIsIdePort();
    int ReadInquiryData(uint8_t* inquiryData);
    void ScanBuses(DeviceList& list, const uint8_t* inquiryData, uint32_t& lettered);
    void ScanUnits(DeviceList& list, uint32_t unitCount, uint32_t& lettered);
    // UNIT is closed before the drive is opened, or by its holder on the other paths.
    void ExamineUnit(DeviceList& list, KeyHolder& unit, uint32_t& lettered);
    int IsCdRomUnit(NtStorageApi::Key unit);
    void ReadDeviceName(NtStorageApi::Key unit, char* name, uint32_t lettered);
    // Puts the lowest drive letter whose DOS device is \Device\NAME into DosDeviceName.
    int FindDriveLetter(const char* name);

    // Opens \\.\<DosDeviceName of CurrentDevice> into DeviceHandle.
    int OpenDrive();

    int SendBuffered(const CommandDescriptorBlock& cdb, uint32_t transferLength, uint32_t inputLength,
                     PassThroughCommandArea& area);
    // The area holds the port driver's answer afterwards.
    int SendDirect(const CommandDescriptorBlock& cdb, uint8_t dataIn, uint8_t* buffer, uint32_t length,
                   DirectCommandArea& area);
    // A read-back or dump: succeeds only when all LENGTH bytes arrived.
    int ReceiveChunk(const CommandDescriptorBlock& cdb, uint8_t* buffer, uint32_t length);

    NtStorageApi& storage_;
};
