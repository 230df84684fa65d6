#include "upgrade/FirmwareChecksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct FilledCase {
    const char* name;
    std::vector<unsigned char> head;  // the slot's first bytes; the rest reads as zero
    bool filled;
};

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

TEST(SlotIsFilled, TellsPlaceholderFromContents) {
    const std::vector<FilledCase> cases = {
        {"placeholder", Bytes("INSERT_FIRMWARE"), false},
        {"placeholder then other bytes",
         Bytes(std::string("INSERT_FIRMWARE\xFF"
                           "1.10",
                           20)),
         false},
        {"15th byte differs", Bytes("INSERT_FIRMWARF"), true},
        {"15th byte NUL", Bytes(std::string("INSERT_FIRMWAR\0", 15)), true},
        {"version 1.10",
         Bytes(std::string("1.10\0"
                           "0FE0\0",
                           10)),
         true},
        {"all zero", std::vector<unsigned char>(15, 0), true},
    };
    for (const FilledCase& c : cases) {
        std::vector<unsigned char> head = c.head;
        head.resize(32, 0);
        EXPECT_EQ(upgrade::SlotIsFilled(head.data()), c.filled) << c.name;
    }
}

TEST(SlotText, CopiesUpToFourBytesAndWritesExactlyFive) {
    struct Case {
        const char* name;
        char field[5];
        char text[5];
    };
    const Case cases[] = {
        {"terminated", {'1', '.', '1', '0', '\0'}, {'1', '.', '1', '0', '\0'}},
        {"no NUL in the field", {'0', 'F', 'E', '0', '7'}, {'0', 'F', 'E', '0', '\0'}},
        {"short, then bytes after the NUL", {'A', '\0', 'B', 'C', 'D'}, {'A', '\0', '\0', '\0', '\0'}},
    };
    for (const Case& c : cases) {
        // One byte more than the text, so that a write past its five bytes shows.
        char text[6];
        std::memset(text, 0x7F, sizeof text);
        upgrade::SlotText(c.field, text);
        EXPECT_EQ(std::memcmp(text, c.text, 5), 0) << c.name;
        EXPECT_EQ(text[5], 0x7F) << c.name;
    }
}

struct ExpectedCase {
    const char* name;
    char text[5];
    std::uint16_t expected;
};

TEST(ExpectedChecksum, ParsesUpToFourHexDigits) {
    const std::vector<ExpectedCase> cases = {
        {"upper case", {'0', 'F', 'E', '0', '\0'}, 0x0FE0},
        {"lower case", {'0', 'f', 'e', '0', '\0'}, 0x0FE0},
        {"largest", {'F', 'F', 'F', 'F', '\0'}, 0xFFFF},
        {"no NUL after four digits", {'1', '2', '3', '4', '5'}, 0x1234},
        {"leading blank", {' ', 'A', 'B', 'C', '\0'}, 0x0ABC},
        {"stops at non-hex", {'1', 'G', '2', '3', '\0'}, 0x0001},
        {"stops at NUL", {'A', '\0', 'B', 'C', '\0'}, 0x000A},
        {"four non-hex characters", {'W', 'X', 'Y', 'Z', '\0'}, 0x0000},
        {"placeholder part", {'T', '_', 'F', 'I', 'R'}, 0x0000},
        {"empty", {'\0', '\0', '\0', '\0', '\0'}, 0x0000},
    };
    for (const ExpectedCase& c : cases) EXPECT_EQ(upgrade::ExpectedChecksum(c.text), c.expected) << c.name;
}

TEST(ImageChecksum, SumsBytesModulo65536) {
    struct Case {
        const char* name;
        std::vector<unsigned char> image;
        std::uint16_t sum;
    };
    std::vector<unsigned char> highBytes(16, 0xFF);
    std::vector<unsigned char> ramp(1000);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<unsigned char>(i);
    const std::vector<Case> cases = {
        {"all 0xFF, 131072 bytes, wraps to zero", std::vector<unsigned char>(131072, 0xFF), 0x0000},
        {"all zero", std::vector<unsigned char>(131072, 0x00), 0x0000},
        {"bytes count unsigned", highBytes, 0x0FF0},
        {"ramp 0..255 repeated", ramp, 0xE72C},
        {"empty", {}, 0x0000},
    };
    for (const Case& c : cases) EXPECT_EQ(upgrade::ImageChecksum(c.image.data(), c.image.size()), c.sum) << c.name;
}

TEST(ChecksumCheck, FullImageAgainstStoredText) {
    const std::vector<unsigned char> ff(131072, 0xFF);
    const char zeroText[5] = {'0', '0', '0', '0', '\0'};
    EXPECT_EQ(upgrade::ImageChecksum(ff.data(), ff.size()), upgrade::ExpectedChecksum(zeroText));

    const std::vector<unsigned char> zero(131072, 0x00);
    const char storedText[5] = {'0', 'a', 'c', 'e', '\0'};
    const std::uint16_t computed = upgrade::ImageChecksum(zero.data(), zero.size());
    const std::uint16_t expected = upgrade::ExpectedChecksum(storedText);
    EXPECT_NE(computed, expected);
    char message[upgrade::ChecksumMismatchTextSize];
    upgrade::FormatChecksumMismatch(message, sizeof message, computed, expected);
    EXPECT_STREQ(message, "Check sum not match!! (0000 / 0ACE)");
}

}  // namespace
