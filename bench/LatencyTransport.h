#pragma once

#include <cstdint>

#include "tests/support/simulated/EmulatedTransport.h"

// An EmulatedTransport whose drives take time: before each command it waits the addressed drive's
// LatencyMicroseconds(), as a wrapper that can wait is meant to. Counts the commands and the time
// the drives took (measured, never less than their latency), so a benchmark can tell the drive's
// share from the tool's.
class LatencyTransport final : public EmulatedTransport {
public:
    uint64_t Commands = 0;
    uint64_t DriveMicroseconds = 0;

    int InquireDevice() override;
    int IdentifyController() override;
    int ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int CommitFirmware() override;

private:
    void Wait();
};
