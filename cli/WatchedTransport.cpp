#include "cli/WatchedTransport.h"

#include <cerrno>

#include "upgrade/UpgradeOperations.h"

WatchedTransport::WatchedTransport(SgIoTransport& inner, ProgressBar& bar) : inner_(inner), bar_(bar) {
    Usable = inner.Usable;
    AdapterCount = inner.AdapterCount;
    Mirror();
}

void WatchedTransport::Mirror() {
    CurrentDevice = inner_.CurrentDevice;
}

uint32_t WatchedTransport::FlashAddress(uint8_t bufferId, uint16_t offset) {
    return (uint32_t{bufferId} << 16) + offset;
}

int WatchedTransport::Judge(int result) {
    // Refused for want of privilege: every later command would be refused the same way, and
    // retrying would show the user five failed attempts where one thing is missing.
    if (!result && inner_.LastError() == EPERM) stop_ = Stop::Environment;
    return result;
}

void WatchedTransport::EnumerateDevices(DeviceList& list) {
    inner_.EnumerateDevices(list);
    Mirror();
}

int WatchedTransport::InquireDevice() {
    const int result = inner_.InquireDevice();
    Mirror();
    return result;
}

int WatchedTransport::IdentifyController() {
    const int result = inner_.IdentifyController();
    Mirror();
    return result;
}

int WatchedTransport::OpenDevice(const DeviceRecord& record) {
    const int result = inner_.OpenDevice(record);
    Mirror();
    if (!result) {
        if (inner_.LastError() != 0) stop_ = Stop::Environment;
        return 0;
    }
    const uint32_t chunk = UpgradeOperations::ChunkLength;
    bar_.Start((CurrentDevice.FlashSize + chunk - 1) / chunk);
    return 1;
}

void WatchedTransport::CloseDevice() {
    inner_.CloseDevice();
    bar_.Finish();
}

int WatchedTransport::WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    if (stop_ == Stop::None && DryRun) stop_ = Stop::DryRun;
    if (stop_ != Stop::None) return 0;
    // A write at an address means that every chunk below it has been verified.
    bar_.Show(FlashAddress(bufferId, offset) / UpgradeOperations::ChunkLength);
    return Judge(inner_.WriteFirmwareChunk(buffer, bufferId, offset, length));
}

int WatchedTransport::ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    if (stop_ != Stop::None) return 0;
    return Judge(inner_.ReadBackChunk(buffer, bufferId, offset, length));
}

int WatchedTransport::DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    if (stop_ != Stop::None) return 0;
    const int result = Judge(inner_.DumpFirmwareChunk(buffer, bufferId, offset, length));
    if (result) {
        const uint32_t chunk = UpgradeOperations::ChunkLength;
        bar_.Show((FlashAddress(bufferId, offset) + length + chunk - 1) / chunk);
    }
    return result;
}

int WatchedTransport::CommitFirmware() {
    if (stop_ != Stop::None) return 0;
    const uint32_t chunk = UpgradeOperations::ChunkLength;
    bar_.Show((CurrentDevice.FlashSize + chunk - 1) / chunk);
    return Judge(inner_.CommitFirmware());
}
