// The checksum text of a program's slot is whatever five bytes the program file holds there.
#include <cstring>
#include <memory>

#include "fuzz/FuzzInput.h"
#include "upgrade/FirmwareChecksum.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The field on the heap at exactly its size: a sanitizer sees any read past it.
    std::unique_ptr<char[]> field(new char[5]);
    for (size_t i = 0; i < 5; ++i) field[i] = i < size ? static_cast<char>(data[i]) : '\0';

    const uint16_t expected = upgrade::ExpectedChecksum(field.get());

    // The fifth byte of the field is never part of the text.
    field[4] = static_cast<char>(field[4] ^ 0xFF);
    FUZZ_CHECK(upgrade::ExpectedChecksum(field.get()) == expected);

    char text[5];
    upgrade::SlotText(field.get(), text);
    FUZZ_CHECK(text[4] == '\0');
    FUZZ_CHECK(std::strncmp(text, field.get(), 4) == 0);

    // Four hex digits, as combine writes them, read back as their value.
    unsigned value = 0;
    bool allHex = true;
    for (size_t i = 0; i < 4; ++i) {
        const int digit = HexValue(field[i]);
        allHex = allHex && digit >= 0;
        value = value << 4 | static_cast<unsigned>(digit < 0 ? 0 : digit);
    }
    if (allHex) FUZZ_CHECK(expected == value);

    // And whatever combine writes for a sum, the program reads back as that sum.
    const uint16_t sum = static_cast<uint16_t>(static_cast<uint8_t>(field[0]) | static_cast<uint8_t>(field[1]) << 8);
    char written[5];
    upgrade::FormatChecksumText(sum, written);
    FUZZ_CHECK(upgrade::ExpectedChecksum(written) == sum);
    return 0;
}
