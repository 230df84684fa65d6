#pragma once

#include <array>
#include <cstddef>

// Finds the firmware slot in a program file by the 32 bytes the program places right in front
// of it.
class SlotLocator {
public:
    static constexpr std::size_t Size = 32;

    struct Match {
        std::size_t count;   // occurrences of the locator; they may overlap
        std::size_t offset;  // of the first one, when count > 0
    };

    // The locator itself. Only decoded at run time, so that this program's own file, and any file
    // that embeds this code, never contains it.
    static std::array<unsigned char, Size> Locator();

    static Match Find(const unsigned char* data, std::size_t size);
};
