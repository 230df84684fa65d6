// The runtime pieces the Windows program and the emulator DLL link in place of the C++ runtime's
// own: formatted texts through msvcrt with C99 answers, and allocation without exceptions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

TEST(LeanRuntime, FormatsTheProgramsTexts) {
    auto format = [](const char* pattern, auto... values) {
        char text[128];
        const int answer = std::snprintf(text, sizeof text, pattern, values...);
        return std::make_pair(answer, std::string(text));
    };
    const std::vector<std::pair<std::string, std::pair<int, std::string>>> cases = {
        {"0ACE", format("%04X", 0x0ACEu)},
        {"Check sum not match!! (0ACE / 0001)", format("Check sum not match!! (%04X / %04X)", 0x0ACEu, 0x0001u)},
        {"Error Happen in ID a OFFSET 0xC000", format("Error Happen in ID %x OFFSET 0x%04X", 0xAu, 0xC000u)},
        {"Open Device (1 2) E: Failed!!", format("Open Device (%u %u)%s%s Failed!!", 1u, 2u, " ", "E:")},
        {"(3, 0, 1, 0) ACME DVD-1 Version 1.51",
         format("(%u, %u, %u, %u) %s %s Version %u.%u", 3u, 0u, 1u, 0u, "ACME", "DVD-1", 1u, 51u)},
        {"\\\\.\\E:", format("\\\\.\\%.*s", 2, "E:\\more")},
        {"F:", format("%c:", 'F')},
        {"-12 x", format("%d %s", -12, "x")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second.second, c.first);
        EXPECT_EQ(c.second.first, static_cast<int>(c.first.size())) << c.first;
    }
}

// A cut text is ended and answered with the whole text's length, as C99 has it; the pass-through
// transport refuses a device path that did not fit by that answer.
TEST(LeanRuntime, CutTextsAnswerTheirWholeLength) {
    const std::string longText(1000, 'x');
    struct Case {
        std::size_t size;
        const char* argument;
        const char* kept;
        int answer;
    };
    const std::vector<Case> cases = {
        {7, "abcdef", "abcdef", 6},
        {6, "abcdef", "abcde", 6},
        {4, "abcdef", "abc", 6},
        {1, "abcdef", "", 6},
        {16, longText.c_str(), "xxxxxxxxxxxxxxx", 1000},
        {300, longText.c_str(), nullptr, 1000},
    };
    for (const Case& c : cases) {
        std::vector<char> text(c.size + 1, '#');
        const int answer = std::snprintf(text.data(), c.size, "%s", c.argument);
        EXPECT_EQ(answer, c.answer) << c.size;
        if (c.kept != nullptr) {
            EXPECT_STREQ(text.data(), c.kept) << c.size;
        } else {
            EXPECT_EQ(std::strlen(text.data()), c.size - 1) << c.size;
        }
        EXPECT_EQ(text[c.size], '#') << "written past the buffer of " << c.size;
    }
    char untouched[4] = "zz";
    EXPECT_EQ(std::snprintf(untouched, 0, "%s", "abcdef"), 6);
    EXPECT_STREQ(untouched, "zz");
}

TEST(LeanRuntime, ReadsHexadecimalAsTheChecksumTextNeeds) {
    struct Case {
        const char* text;
        int answer;
        unsigned value;
    };
    const std::vector<Case> cases = {
        {"0FE0", 1, 0x0FE0}, {"0fe0", 1, 0x0FE0}, {" 1F", 1, 0x1F},
        {"1.10", 1, 0x1}, {"zzzz", 0, 0}, {"", EOF, 0},
    };
    for (const Case& c : cases) {
        unsigned value = 0;
        EXPECT_EQ(std::sscanf(c.text, "%X", &value), c.answer) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(LeanRuntime, WritesFormattedLinesToFiles) {
    const std::string path = ::testing::TempDir() + "lean-runtime-lines.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fprintf(file, "%s\n", "WRITE BUFFER 7"), 15);
    std::fclose(file);
    file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char line[32] = {};
    EXPECT_EQ(std::fread(line, 1, sizeof line, file), 15u);
    std::fclose(file);
    std::remove(path.c_str());
    EXPECT_STREQ(line, "WRITE BUFFER 7\n");
}

// The work buffers are obtained with the nothrow form: a refusal must come back as null, for
// the operations to report it, not end the program.
TEST(LeanRuntime, NothrowAllocationAnswersNull) {
    volatile std::size_t huge = SIZE_MAX / 2;
    unsigned char* buffer = new (std::nothrow) unsigned char[huge];
    EXPECT_EQ(buffer, nullptr);
    delete[] buffer;
    void* single = ::operator new(huge, std::nothrow);
    EXPECT_EQ(single, nullptr);

    unsigned char* small = new (std::nothrow) unsigned char[131072];
    ASSERT_NE(small, nullptr);
    small[131071] = 1;
    delete[] small;
}

}  // namespace
