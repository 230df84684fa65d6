#include "bench/LatencyTransport.h"

#include <chrono>
#include <thread>

void LatencyTransport::Wait() {
    ++Commands;
    const emulator::EmulatedDrive* drive = DriveAt(CurrentDevice.PathId, CurrentDevice.TargetId);
    const uint32_t us = drive != nullptr ? drive->LatencyMicroseconds() : 0;
    if (us == 0) return;
    // The drive takes exactly its latency: a plain sleep overshoots by tens of microseconds, which
    // would be charged to the tool. Sleep most of it, spin to the deadline, and count what passed.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::microseconds(us);
    constexpr std::chrono::microseconds spin(300);
    if (std::chrono::microseconds(us) > spin) std::this_thread::sleep_until(deadline - spin);
    while (Clock::now() < deadline) {
    }
    DriveMicroseconds += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
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
