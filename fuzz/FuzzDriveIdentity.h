#pragma once

#include <cstdint>

#include "emulator/drive/DriveConfig.h"
#include "fuzz/FuzzInput.h"
#include "transport/DriveCommandSet.h"

// What a drive of the scan targets says about itself, taken from the input: device type and maker
// word now and then off the mark, one of the family's controllers or any word, the versions and
// the size word. Both scan targets read these bytes in this order, so their corpora stay valid.
inline emulator::DriveConfig FuzzedDriveIdentity(FuzzInput& in, uint32_t flashBytes) {
    emulator::DriveConfig config;
    if (in.Bit()) config.deviceType = in.Byte();
    if (in.Bit()) config.makerWord = in.Word();
    const unsigned controller = in.Below(4);
    config.controllerId = controller < 3 ? DriveCommandSet::ControllerIds[controller] : in.Word();
    config.versionMajor = in.Byte();
    config.versionMinor = in.Byte();
    config.sizeWordKiB = in.Bit() ? in.Word() : 0;
    config.flashSize = flashBytes;
    return config;
}
