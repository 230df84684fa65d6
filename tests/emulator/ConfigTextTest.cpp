// The reader of the emulators' configuration text: the bounds of a drive's values, numbers in
// both bases, and which paths count as absolute.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "emulator/drive/ConfigText.h"

namespace {

using emulator::ConfigText;
using emulator::DriveSettings;

// Reads the drive keys of WORDS ("key=value" separated by blanks), paths from BASE on; false with
// PROBLEM.
bool ReadDrive(const std::string& line, DriveSettings& drive, std::string& problem, const std::string& base = "/base") {
    ConfigText::DriveReader reader(base);
    ConfigText::Keys keys;
    reader.AddKeys(keys);
    bool read = false;
    size_t at = 0;
    // A refused statement leaves the splitter's problem empty: the keys' one is kept apart.
    std::string splitProblem;
    const bool split = ConfigText::ForEachStatement(
        "drive " + line,
        [&](size_t, const std::string&, const ConfigText::Words& words) {
            read = ConfigText::ReadKeys(words, keys, problem);
            return read;
        },
        at, splitProblem);
    if (!splitProblem.empty()) problem = splitProblem;
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

using Kind = emulator::EmulatedDrive::Kind;

bool Picks(const emulator::EmulatedDrive::CommandPick& p, Kind kind, uint32_t nth) {
    return p.kind == kind && p.nth == nth && p.seen == 0;
}

TEST(ConfigText, TheMisbehaviourKeysTakeAKindAndAPlaceAndRefuseTheRest) {
    struct Case {
        const char* Line;
        const char* Problem;  // nullptr: taken
        bool (*Holds)(const DriveSettings&);
    };
    const auto any = [](const DriveSettings&) { return true; };
    const Case cases[] = {
        {"attention=write:3", nullptr, [](const DriveSettings& d) { return Picks(d.Attention, Kind::WriteChunk, 3); }},
        {"attention=commit", nullptr,
         [](const DriveSettings& d) { return Picks(d.Attention, Kind::Commit, 1) && !d.AttentionAfterCommit; }},
        {"attention=aftercommit attention=any:2", nullptr,
         [](const DriveSettings& d) { return d.AttentionAfterCommit && Picks(d.Attention, Kind::Any, 2); }},
        {"notready=100000", nullptr, [](const DriveSettings& d) { return d.NotReadyAfterCommit == 100000u; }},
        {"hold=readback:0xFFFFFFFF", nullptr,
         [](const DriveSettings& d) { return Picks(d.Hold, Kind::ReadBack, 0xFFFFFFFFu) && d.HoldSeconds == 0; }},
        {"hold=write:3:8", nullptr,
         [](const DriveSettings& d) { return Picks(d.Hold, Kind::WriteChunk, 3) && d.HoldSeconds == 8u; }},
        {"drop=identity", nullptr,
         [](const DriveSettings& d) { return Picks(d.Drop, Kind::Identity, 1) && d.DropSeconds == 0; }},
        {"drop=dump:2:86400", nullptr,
         [](const DriveSettings& d) { return Picks(d.Drop, Kind::Dump, 2) && d.DropSeconds == 86400u; }},
        {"attention=disk",
         "bad value for attention: 'disk' (KIND is one of any, inquiry, identity, dump, readback, write, commit)", any},
        {"attention=afterCommit",
         "bad value for attention: 'afterCommit' (KIND is one of any, inquiry, identity, dump, readback, write, commit)",
         any},
        {"attention=write:0", "bad value for attention: 'write:0' (NTH counts from 1)", any},
        {"attention=write:1:5", "bad value for attention: 'write:1:5' (expected KIND[:NTH])", any},
        {"notready=100001", "bad value for notready: '100001'", any},
        {"hold=standard",
         "bad value for hold: 'standard' (KIND is one of any, inquiry, identity, dump, readback, write, commit)", any},
        {"hold=write:", "bad value for hold: 'write:' (NTH counts from 1)", any},
        {"hold=write:1:86401", "bad value for hold: 'write:1:86401' (SECONDS is at most 86400)", any},
        {"drop=write:0:5", "bad value for drop: 'write:0:5' (NTH counts from 1)", any},
        {"drop=write:1:86401", "bad value for drop: 'write:1:86401' (SECONDS is at most 86400)", any},
        {"drop=write:1:-1", "bad value for drop: 'write:1:-1' (SECONDS is at most 86400)", any},
        {"drop=write:1:2:3", "bad value for drop: 'write:1:2:3' (expected KIND[:NTH[:SECONDS]])", any},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        DriveSettings drive;
        std::string problem;
        EXPECT_EQ(ReadDrive(c.Line, drive, problem), c.Problem == nullptr) << problem;
        if (c.Problem != nullptr) {
            EXPECT_EQ(problem, c.Problem);
        } else {
            EXPECT_TRUE(c.Holds(drive));
        }
    }
}

TEST(ConfigText, ADiscIsLookedAtWhenItsKeyIsRead) {
    std::string base = ::testing::TempDir();
    if (!base.empty() && base.back() == '/') base.pop_back();
    std::ofstream(base + "/configtext_disc.iso", std::ios::binary) << std::string(4096, '\x01');
    std::ofstream(base + "/configtext_odd.iso", std::ios::binary) << std::string(4095, '\x01');
    struct Case {
        std::string Line;
        std::string Problem;  // empty: taken
    };
    const Case cases[] = {
        {"medium=configtext_disc.iso", ""},
        {"medium=configtext_odd.iso", "bad value for medium: 'configtext_odd.iso' (" + base +
                                          "/configtext_odd.iso holds 4095 bytes, not whole blocks of 2048)"},
        {"medium=configtext_none.iso",
         "bad value for medium: 'configtext_none.iso' (" + base + "/configtext_none.iso cannot be read as a file)"},
        {"medium=", "bad value for medium: ''"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Line);
        DriveSettings drive;
        std::string problem;
        EXPECT_EQ(ReadDrive(c.Line, drive, problem, base), c.Problem.empty());
        EXPECT_EQ(problem, c.Problem);
        EXPECT_EQ(drive.MediumPath, c.Problem.empty() ? base + "/configtext_disc.iso" : "");
    }
    std::remove((base + "/configtext_disc.iso").c_str());
    std::remove((base + "/configtext_odd.iso").c_str());
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
