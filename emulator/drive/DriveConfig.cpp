#include "emulator/drive/DriveConfig.h"

namespace emulator {

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
