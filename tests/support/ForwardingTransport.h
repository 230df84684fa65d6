#pragma once

#include "tests/support/simulated/EmulatedTransport.h"
#include "transport/DriveTransport.h"

// Hands every call to an emulated transport and mirrors its current device: a test derives from
// it to watch or spoil the calls it cares about.
class ForwardingTransport : public DriveTransport {
public:
    explicit ForwardingTransport(EmulatedTransport& inner) : inner_(inner) {
        Usable = inner.Usable;
        AdapterCount = inner.AdapterCount;
    }

    void EnumerateDevices(DeviceList& list) override { inner_.EnumerateDevices(list); }
    int InquireDevice() override { return inner_.InquireDevice(); }
    int IdentifyController() override { return inner_.IdentifyController(); }
    int OpenDevice(const DeviceRecord& record) override {
        const int opened = inner_.OpenDevice(record);
        CurrentDevice = inner_.CurrentDevice;
        return opened;
    }
    void CloseDevice() override { inner_.CloseDevice(); }
    int ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override {
        return inner_.ReadBackChunk(buffer, bufferId, offset, length);
    }
    int DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override {
        return inner_.DumpFirmwareChunk(buffer, bufferId, offset, length);
    }
    int WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override {
        return inner_.WriteFirmwareChunk(buffer, bufferId, offset, length);
    }
    int CommitFirmware() override { return inner_.CommitFirmware(); }

protected:
    EmulatedTransport& inner_;
};
