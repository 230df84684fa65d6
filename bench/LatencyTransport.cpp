#include "bench/LatencyTransport.h"

#include <chrono>
#include <thread>

void LatencyTransport::Wait() {
    ++Commands;
    const emulator::EmulatedDrive* drive = DriveAt(CurrentDevice.PathId, CurrentDevice.TargetId);
    const uint32_t us = drive != nullptr ? drive->LatencyMicroseconds() : 0;
    if (us == 0) return;
    DriveMicroseconds += us;
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

int LatencyTransport::InquireDevice() {
    Wait();
    return EmulatedTransport::InquireDevice();
}

int LatencyTransport::IdentifyController() {
    Wait();
    return EmulatedTransport::IdentifyController();
}

int LatencyTransport::ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    Wait();
    return EmulatedTransport::ReadBackChunk(buffer, bufferId, offset, length);
}

int LatencyTransport::DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    Wait();
    return EmulatedTransport::DumpFirmwareChunk(buffer, bufferId, offset, length);
}

int LatencyTransport::WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    Wait();
    return EmulatedTransport::WriteFirmwareChunk(buffer, bufferId, offset, length);
}

int LatencyTransport::CommitFirmware() {
    Wait();
    return EmulatedTransport::CommitFirmware();
}
