#pragma once

#include <cstdint>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "transport/DriveCommandSet.h"
#include "transport/DriveTransport.h"

// A DriveTransport whose drives are EmulatedDrives. It builds every command with the shared
// command set and hands the bytes to the drive, so a wrong CDB is answered with CHECK CONDITION
// instead of being echoed back. Drives sit at (adapter, target) places as on an ASPI manager; the
// scan probes targets 0 to 7 of each adapter.
//
// It also counts what a caller must keep balanced: opens and closes, and commands sent while no
// drive is open.
class EmulatedTransport : public DriveTransport {
public:
    static constexpr uint8_t TargetsPerAdapter = 8;
    static constexpr uint32_t AnswerBufferSize = 100;

    explicit EmulatedTransport(uint32_t adapterCount = 1);

    // Places DRIVE (kept by the caller) at an address; the scan finds it there.
    void AttachDrive(uint8_t adapter, uint8_t target, emulator::EmulatedDrive* drive);
    emulator::EmulatedDrive* DriveAt(uint8_t adapter, uint8_t target) const;

    // Makes the next OpenDevice calls fail (the drive cannot be opened).
    bool OpenFails = false;

    int Opens() const { return opens_; }
    int SuccessfulOpens() const { return successfulOpens_; }
    int Closes() const { return closes_; }
    bool IsOpen() const { return open_; }
    int CommandsWhileClosed() const { return commandsWhileClosed_; }

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
    struct Place {
        uint8_t Adapter;
        uint8_t Target;
        emulator::EmulatedDrive* Drive;
    };

    // Sends one command to the drive addressed by CurrentDevice; GOOD status is success.
    int Send(const CommandDescriptorBlock& cdb, emulator::EmulatedDrive::Direction direction, uint8_t* data,
             uint32_t length, bool needsOpenDrive);

    std::vector<Place> places_;
    bool open_ = false;
    int opens_ = 0;
    int successfulOpens_ = 0;
    int closes_ = 0;
    int commandsWhileClosed_ = 0;
};
