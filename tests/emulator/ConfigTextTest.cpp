// The reader of the emulators' configuration text: the bounds of a drive's values, numbers in
// both bases, and which paths count as absolute.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "emulator/drive/ConfigText.h"

namespace {

using emulator::ConfigText;
using emulator::DriveSettings;

// Reads the drive keys of WORDS ("key=value" separated by blanks); false with PROBLEM.
bool ReadDrive(const std::string& line, DriveSettings& drive, std::string& problem) {
    ConfigText::DriveReader reader("/base");
    ConfigText::Keys keys;
    reader.AddKeys(keys);
    bool read = false;
    size_t at = 0;
    const bool split = ConfigText::ForEachStatement(
        "drive " + line,
        [&](size_t, const std::string&, const ConfigText::Words& words) {
            read = ConfigText::ReadKeys(words, keys, problem);
            return read;
        },
        at, problem);
    drive = reader.Finish();
    return split && read;
}

TEST(ConfigText, ADriveTakesEveryValueUpToItsBoundsAndNoFurther) {
    struct Case {
        const char* Line;
        bool Taken;
        bool (*Holds)(const DriveSettings&);
    };
    const auto any = [](const DriveSettings&) { return true; };
    const Case cases[] = {
        {"major=0xfF", true, [](const DriveSettings& d) { return d.Config.versionMajor == 0xFF; }},
        {"minor=0", true, [](const DriveSettings& d) { return d.Config.versionMinor == 0; }},
        {"major=0xfG", false, any},
        {"major=", false, any},
        {"flashsize=1", true, [](const DriveSettings& d) { return d.Config.flashSize == 1; }},
        {"versionat=0xFFFFFC", true, [](const DriveSettings& d) { return d.Config.versionOffset == 0xFFFFFCu; }},
        {"versionat=0xFFFFFD", false, any},
        {"revision=", true, [](const DriveSettings& d) { return std::memcmp(d.Config.revision, "    ", 4) == 0; }},
        {"revision=ABCD", true, [](const DriveSettings& d) { return std::memcmp(d.Config.revision, "ABCD", 4) == 0; }},
        {"revision=ABCDE", false, any},
        {"fail=write:0xFFFFFF", true, [](const DriveSettings& d) { return d.Faults.size() == 1; }},
        {"fail=write:0x1000000", false, any},
        {"corrupt=1:2", true, [](const DriveSettings& d) { return d.Faults.size() == 1; }},
        {"corrupt=1:2:3", false, any},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        DriveSettings drive;
        std::string problem;
        EXPECT_EQ(ReadDrive(c.Line, drive, problem), c.Taken) << problem;
        EXPECT_TRUE(!c.Taken || c.Holds(drive));
    }
}

TEST(ConfigText, PathsWithARootOrADriveLetterStandAsTheyAre) {
    struct Case {
        const char* Base;
        const char* Path;
        const char* Resolved;
    };
    const Case cases[] = {
        {"base", "/flash.bin", "/flash.bin"},   {"base", "\\flash.bin", "\\flash.bin"},  {"base", "C:", "C:"},
        {"base", "C:flash.bin", "C:flash.bin"}, {"base", "flash.bin", "base/flash.bin"}, {"", "flash.bin", "flash.bin"},
    };
    for (const Case& c : cases) EXPECT_EQ(ConfigText::Resolve(c.Base, c.Path), c.Resolved) << c.Path;
}

}  // namespace
