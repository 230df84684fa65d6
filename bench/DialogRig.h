#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/LatencyTransport.h"
#include "bench/PeakBufferAllocator.h"
#include "tests/support/UpgradeBench.h"

// The dialog on the headless backend with one emulated drive behind a LatencyTransport and
// buffers from a PeakBufferAllocator, ready for Upgrade or Save to be pressed again and again.
class DialogRig {
public:
    explicit DialogRig(uint32_t latencyMicroseconds = 0);
    ~DialogRig();

    // One whole operation; false when it did not end in success.
    bool Upgrade();
    bool Save();

    BenchDrive& Drive() { return *bench_.Drives.front(); }
    LatencyTransport Transport;
    PeakBufferAllocator Buffers;

private:
    bool Succeeded();

    UpgradeBench bench_;
};
