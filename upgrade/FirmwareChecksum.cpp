#include "upgrade/FirmwareChecksum.h"

#include <cstdio>
#include <cstring>

#include "upgrade/FirmwareSlot.h"

namespace upgrade {

bool SlotIsFilled(const unsigned char* slotHead) {
    return std::strncmp(reinterpret_cast<const char*>(slotHead), FirmwareSlot::Placeholder,
                        FirmwareSlot::PlaceholderLength) != 0;
}

void SlotText(const char field[5], char text[5]) {
    std::size_t i = 0;
    for (; i < 4 && field[i] != '\0'; ++i) text[i] = field[i];
    for (; i < 5; ++i) text[i] = '\0';
}

std::uint16_t ExpectedChecksum(const char checksumText[5]) {
    char text[5];
    SlotText(checksumText, text);
    // A text without digits leaves the result at 0, which then fails the comparison with the image
    // like any wrong sum would; so the scan's own result carries no extra information.
    unsigned int result = 0;
    (void)std::sscanf(text, "%X", &result);
    return static_cast<std::uint16_t>(result & 0xFFFFu);
}

std::uint16_t ImageChecksum(const unsigned char* bytes, std::size_t length) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
    return sum;
}

void FormatChecksumText(std::uint16_t checksum, char text[5]) {
    std::snprintf(text, 5, "%04X", static_cast<unsigned int>(checksum));
}

void FormatChecksumMismatch(char* buffer, std::size_t size, std::uint16_t computed, std::uint16_t expected) {
    std::snprintf(buffer, size, "Check sum not match!! (%04X / %04X)", static_cast<unsigned int>(computed),
                  static_cast<unsigned int>(expected));
}

}  // namespace upgrade
