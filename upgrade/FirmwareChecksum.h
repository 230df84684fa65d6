#pragma once

#include <cstddef>
#include <cstdint>

namespace upgrade {

// Pure functions over slot bytes: shared by the program that reads its own slot and by combine,
// which fills slots and so must not carry one itself.

// False while the slot still holds the placeholder. Reads at most
// FirmwareSlot::PlaceholderLength bytes and stops at a NUL.
bool SlotIsFilled(const unsigned char* slotHead);

// A slot text field (VersionText, ChecksumText) as a C string: its first 4 bytes up to a NUL.
// The field in a program file need not be terminated, so the fifth byte is never read.
void SlotText(const char field[5], char text[5]);

// The checksum stored as hex digits in ChecksumText; 0 when it holds none.
std::uint16_t ExpectedChecksum(const char checksumText[5]);

// The 16-bit sum of all bytes, wrapping.
std::uint16_t ImageChecksum(const unsigned char* bytes, std::size_t length);

// The ChecksumText form of a checksum: 4 upper-case hex digits and a NUL.
void FormatChecksumText(std::uint16_t checksum, char text[5]);

// "Check sum not match!! (COMPUTED / EXPECTED)", cut to fit buffer.
constexpr std::size_t ChecksumMismatchTextSize = 40;
void FormatChecksumMismatch(char* buffer, std::size_t size, std::uint16_t computed, std::uint16_t expected);

}  // namespace upgrade
