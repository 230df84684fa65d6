#pragma once

#include <cstdint>

#include "cli/ProgressBar.h"
#include "transport/DriveTransport.h"
#include "transport/SgIoTransport.h"

// The transport as the front-end hands it to the operations: every call goes on to the SG_IO
// transport, and on its way the front-end sees what the dialog's progress bar cannot show it,
// each chunk written and verified or read, and what the operation cannot tell, that the
// environment refused it. Once it stops an operation, the chunk commands still asked for fail
// without reaching the drive, so the loops end without a retry reaching the kernel.
class WatchedTransport final : public DriveTransport {
public:
    enum class Stop {
        None,
        // The environment refused the open or a command (permissions, a busy or vanished node).
        Environment,
        // A dry run reached the first write.
        DryRun,
    };

    WatchedTransport(SgIoTransport& inner, ProgressBar& bar);

    // A dry run stops at the first WriteFirmwareChunk, before anything is sent.
    bool DryRun = false;

    Stop Stopped() const { return stop_; }
    // Back to no stop, for the next operation.
    void Rearm() { stop_ = Stop::None; }

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
    static uint32_t FlashAddress(uint8_t bufferId, uint16_t offset);
    // The operations read CurrentDevice of the transport they were given.
    void Mirror();
    // Whether a failed command was the environment's refusal rather than the drive's answer.
    int Judge(int result);

    SgIoTransport& inner_;
    ProgressBar& bar_;
    Stop stop_ = Stop::None;
};
