#include "emulator/drive/DriveConfig.h"

namespace emulator {

namespace {

const struct {
    uint16_t ControllerId;
    uint32_t FlashSize;
} UsualFlashSizes[] = {
    {0x6E15, 0x20000},  // 128 KiB
    {0x6E2A, 0x80000},  // 512 KiB
    {0x6E47, 0x40000},  // 256 KiB
};

}  // namespace

uint32_t DriveConfig::UsualFlashSize(uint16_t controllerId) {
    for (const auto& usual : UsualFlashSizes) {
        if (usual.ControllerId == controllerId) return usual.FlashSize;
    }
    return 0;
}

void DriveConfig::SetPadded(char* field, size_t size, const char* text) {
    size_t i = 0;
    if (text != nullptr) {
        for (; i < size && text[i] != '\0'; ++i) {
            field[i] = text[i];
        }
    }
    for (; i < size; ++i) {
        field[i] = ' ';
    }
}

}  // namespace emulator
