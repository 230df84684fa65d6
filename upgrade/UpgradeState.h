#pragma once

#include <string>

#include "transport/DeviceList.h"
#include "transport/DeviceRecord.h"

// The upgrade dialog's members beyond its dialog base, in their order. The firmware operations
// work on them; the dialog sets their start values and shows them.
struct UpgradeState {
    const DeviceRecord* SelectedDevice = nullptr;  // inside DeviceList, taken when an operation starts
    int RestartRequested = 0;                      // the answer to the restart prompt
    uint8_t* ReadBackBuffer = nullptr;             // held only while an Upgrade runs
    uint8_t* ImageBuffer = nullptr;                // Upgrade: image copy; Save: the dump
    ::DeviceList DeviceList;                       // filled by the scan, never changed afterwards
    std::string FirmwarePath;                      // Save's output file, chosen with "..."
    void* AppIcon = nullptr;                       // icon resource 128, owned by the platform
    int UpgradeSucceeded = 0;                      // set by a completed Upgrade, never cleared
    int ProgressPercent = 0;                       // last value given to the progress bar
};
