#pragma once

#include "transport/DeviceRecord.h"
#include "transport/DriveTransport.h"

// The drive of one operation: opened through the transport it was given and closed exactly once
// when the operation's scope ends, on every path that followed a successful open.
class OpenedDrive {
public:
    explicit OpenedDrive(DriveTransport& transport) : transport_(transport) {}
    ~OpenedDrive() {
        if (open_) transport_.CloseDevice();
    }
    OpenedDrive(const OpenedDrive&) = delete;
    OpenedDrive& operator=(const OpenedDrive&) = delete;

    // Makes RECORD's drive current and opens it; false when the transport could not.
    bool Open(const DeviceRecord& record) {
        open_ = transport_.OpenDevice(record) != 0;
        return open_;
    }
    // The flash size of the open drive, as the transport made it current.
    uint32_t FlashSize() const { return transport_.CurrentDevice.FlashSize; }

private:
    DriveTransport& transport_;
    bool open_ = false;
};
