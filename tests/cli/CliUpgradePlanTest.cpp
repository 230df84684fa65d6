// flashupgrade upgrade against what the drive already holds: the flash read and compared first,
// nothing written when it holds the image, an older image only when asked, and each drive's
// outcome in the JSON.
#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "cli/UpgradePlan.h"
#include "tests/cli/CliBench.h"
#include "upgrade/FirmwareSlot.h"

namespace {

using emulator::EmulatedDrive;
using Lines = std::vector<std::string>;

constexpr uint32_t ImageSize = CliBench::ImageSize;

void SetVersion(EmulatedDrive& drive, uint16_t major, uint16_t minor) {
    emulator::DriveConfig config = drive.Config();
    config.versionMajor = major;
    config.versionMinor = minor;
    drive.Configure(config);
}

void SetImageVersion(CliBench& bench, const char* version) {
    char* text = reinterpret_cast<char*>(bench.Slot.data()) + offsetof(upgrade::FirmwareSlot, VersionText);
    std::memset(text, 0, upgrade::FirmwareSlot::VersionTextSize);
    std::memcpy(text, version, std::strlen(version));
}

void HoldImage(const CliBench& bench, EmulatedDrive& drive) { std::memcpy(drive.Flash(), bench.Image().data(), ImageSize); }

bool HoldsImage(const CliBench& bench, const EmulatedDrive& drive) {
    return std::memcmp(drive.Flash(), bench.Image().data(), ImageSize) == 0;
}

// The member KEY of the one drive's object in the JSON document LINE, as written ("x" or x).
std::string Member(const std::string& line, const std::string& key) {
    const size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return "(none)";
    const size_t start = at + key.size() + 3;
    const size_t end = line[start] == '"' ? line.find('"', start + 1) + 1 : line.find_first_of(",}", start);
    return line.substr(start, end - start);
}

// The image's version text against the drive's numbers: by number, and only for "X.Y".
TEST(CliUpgradePlan, VersionsCompareAsNumbersAndOnlyInTheirOneForm) {
    struct Case {
        const char* Text;
        uint16_t Major, Minor;
        bool Judged;
        int Order;
    };
    const Case cases[] = {
        {"1.10", 1, 5, true, 1},      {"1.5", 1, 10, true, -1},    {"1.05", 1, 5, true, 0},
        {"2.0", 1, 99, true, 1},      {"0.9", 1, 0, true, -1},     {"10.0", 9, 9, true, 1},
        {"9.9", 9, 9, true, 0},       {"65535.65535", 65535, 65535, true, 0}, {"99999.0", 65535, 0, true, 1},
        {"", 1, 5, false, 0},         {"1", 1, 5, false, 0},       {"1.", 1, 5, false, 0},
        {".5", 1, 5, false, 0},       {"1.5x", 1, 5, false, 0},    {"v1.5", 1, 5, false, 0},
        {"1.5.1", 1, 5, false, 0},    {"1/5", 1, 5, false, 0},     {"1.:", 1, 5, false, 0},
        {"1./", 1, 5, false, 0},      {"123456.1", 1, 5, false, 0}, {"1.123456", 1, 5, false, 0},
        {"-1.5", 1, 5, false, 0},
    };
    for (const Case& c : cases) {
        int order = 7;
        EXPECT_EQ(UpgradePlan::CompareVersions(c.Text, c.Major, c.Minor, order), c.Judged) << c.Text;
        EXPECT_EQ(order, c.Judged ? c.Order : 7) << c.Text;
    }
}

TEST(CliUpgradePlan, TheSameImageTwiceWritesOnceAndTheSecondRunSaysSoWithoutAQuestion) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    ASSERT_EQ(bench.Run("upgrade --yes"), 0);
    ASSERT_EQ(drive.CommitCount(), 1u);
    const size_t firstRun = LinuxMachineBench::Commands(drive).size();

    // On a terminal, without --yes: there is nothing to ask.
    bench.Terminal = ScriptedTerminal();
    bench.Terminal.Input = true;
    EXPECT_EQ(bench.Run("upgrade"), 0);
    // The drive goes on reporting its old version until it restarts.
    EXPECT_EQ(bench.OutLines(), (Lines{"Drive 1 already holds this image (version 1.51; it reports version 1.5 until "
                                       "it restarts): nothing written."}));
    EXPECT_TRUE(bench.Terminal.Questions.empty());
    EXPECT_EQ(bench.Terminal.Err, "");
    // The second run: the identity queries of the scan and the open, and the eight reads.
    const std::vector<unsigned> all = LinuxMachineBench::Commands(drive);
    const std::vector<unsigned> second(all.begin() + static_cast<long>(firstRun), all.end());
    std::vector<unsigned> expected = {0x1200, 0x3C01, 0x1200, 0x3C01};
    for (unsigned code : CliBench::ComparingReads()) expected.push_back(code);
    EXPECT_EQ(second, expected);
    EXPECT_EQ(drive.CommitCount(), 1u);

    // --force writes and commits it again.
    bench.Terminal = ScriptedTerminal();
    EXPECT_EQ(bench.Run("upgrade --yes --force"), 0);
    EXPECT_EQ(bench.OutLines().front(), "Drive 1 already holds this image (version 1.51; it reports version 1.5 until it "
                                        "restarts): written again, as asked (--force)");
    EXPECT_EQ(bench.OutLines().back(), "flash equals image version 1.51");
    EXPECT_EQ(drive.CommitCount(), 2u);
    EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    EXPECT_EQ(bench.Buffers.Held(), 0u);
}

// What the drive holds and reports, and what was asked: the decision, its line, its status and
// what the JSON says of it.
TEST(CliUpgradePlan, TheFlashDecidesWhetherToWriteAndTheVersionsWhetherTheImageIsOlder) {
    struct Case {
        const char* Name;
        uint16_t Major, Minor;   // what the drive reports
        bool Holds;              // its flash holds the image already
        const char* Image;       // the image's version text
        const char* Options;
        int Exit;
        const char* Line;        // the decision's line; "" for none
        const char* Outcome;
        bool Written;
    };
    const char* const refused =
        "Drive 1 runs version 1.60, newer than image version 1.51: nothing written; add --allow-older to write the "
        "older image";
    const Case cases[] = {
        {"newer image", 1, 5, false, "1.51", "", 0, "", "written", true},
        {"1.10 is newer than 1.5", 1, 5, false, "1.10", "", 0, "", "written", true},
        {"1.5 is older than 1.10", 1, 10, false, "1.5", "", 1,
         "Drive 1 runs version 1.10, newer than image version 1.5: nothing written; add --allow-older to write the "
         "older image",
         "refused-older", false},
        {"older image", 1, 60, false, "1.51", "", 1, refused, "refused-older", false},
        {"older image, --allow-older", 1, 60, false, "1.51", " --allow-older", 0,
         "Drive 1 runs version 1.60, newer than image version 1.51: the older image is written, as asked "
         "(--allow-older)",
         "written", true},
        {"older image, --force", 1, 60, false, "1.51", " --force", 0,
         "Drive 1 runs version 1.60, newer than image version 1.51: the older image is written, as asked (--force)",
         "written", true},
        {"same version, another flash", 1, 51, false, "1.51", "", 0,
         "Drive 1 reports version 1.51, the image's, but its flash differs from image version 1.51 in 8 of 8 chunks: "
         "the image is written again",
         "written", true},
        {"same version, same flash", 1, 51, true, "1.51", "", 0,
         "Drive 1 already holds this image (version 1.51): nothing written.", "unchanged", false},
        // Written back to an older image and not restarted: the flash decides, not the version.
        {"a newer version reported, the image held", 1, 60, true, "1.51", "", 0,
         "Drive 1 already holds this image (version 1.51; it reports version 1.60 until it restarts): nothing "
         "written.",
         "unchanged", false},
        {"held, --force", 1, 51, true, "1.51", " --force", 0,
         "Drive 1 already holds this image (version 1.51): written again, as asked (--force)", "written", true},
        {"no version to judge", 9, 99, false, "beta", "", 0, "", "written", true},
        {"no version to judge, held", 9, 99, true, "v1.5", "", 0,
         "Drive 1 already holds this image (version v1.5; it reports version 9.99 until it restarts): nothing "
         "written.",
         "unchanged", false},
        {"a dry run: refused", 1, 60, false, "1.51", " --dry-run", 1, refused, "refused-older", false},
        {"a dry run: unchanged", 1, 51, true, "1.51", " --dry-run", 0,
         "Drive 1 already holds this image (version 1.51): nothing written.", "unchanged", false},
        {"a dry run: would write", 1, 5, false, "1.51", " --dry-run", 0, "", "written", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        for (bool json : {false, true}) {
            SCOPED_TRACE(json ? "--json" : "text");
            CliBench bench;
            EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
            SetVersion(drive, c.Major, c.Minor);
            SetImageVersion(bench, c.Image);
            if (c.Holds) HoldImage(bench, drive);
            const std::vector<uint8_t> before(drive.Flash(), drive.Flash() + ImageSize);
            EXPECT_EQ(bench.Run(std::string("upgrade --yes") + c.Options + (json ? " --json" : "")), c.Exit);
            EXPECT_EQ(drive.CommitCount(), c.Written ? 1u : 0u);
            EXPECT_EQ(CliBench::WritesAndCommits(drive), c.Written ? 9u : 0u);
            if (c.Written) {
                EXPECT_TRUE(HoldsImage(bench, drive));
            } else {
                EXPECT_EQ(std::vector<uint8_t>(drive.Flash(), drive.Flash() + ImageSize), before);
            }
            const Lines out = bench.OutLines();
            if (!json) {
                const bool said = !out.empty() && out.front() == c.Line;
                EXPECT_TRUE(*c.Line == '\0' ? out.empty() || out.front() == "Upgrade Firmware..." : said)
                    << (out.empty() ? "(nothing)" : out.front());
                continue;
            }
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(Member(out[0], "device"), "\"/dev/sr0\"");
            EXPECT_EQ(Member(out[0], "versionBefore"),
                      "\"" + std::to_string(c.Major) + "." + std::to_string(c.Minor) + "\"");
            EXPECT_EQ(Member(out[0], "imageVersion"), "\"" + std::string(c.Image) + "\"");
            EXPECT_EQ(Member(out[0], "outcome"), "\"" + std::string(c.Outcome) + "\"");
            EXPECT_EQ(Member(out[0], "changed"), c.Written ? "true" : "false");
            EXPECT_EQ(Member(out[0], "status"), std::to_string(c.Exit));
            EXPECT_EQ(Member(out[0], "dryRun"), std::strstr(c.Options, "--dry-run") ? "true" : "false");
        }
    }
}

TEST(CliUpgradePlan, ABackUpIsTheSameReadsAndIsKeptWhenThereIsNothingToWrite) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    HoldImage(bench, drive);
    EXPECT_EQ(bench.Run("upgrade --yes --backup old.bin"), 0);
    EXPECT_EQ(bench.OutLines(), (Lines{"Save Firmware...", "Back-up of the flash kept in old.bin",
                                       "Drive 1 already holds this image (version 1.51; it reports version 1.5 until "
                                       "it restarts): nothing written."}));
    EXPECT_EQ(bench.Files.Files["old.bin"], bench.Image());
    EXPECT_EQ(CliBench::FirmwareCommands(drive), CliBench::ComparingReads());
}

// The reads before the writes fail: nothing written, said as such, and failed in the JSON.
TEST(CliUpgradePlan, AFlashThatCannotBeReadIsNotWritten) {
    for (bool json : {false, true}) {
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        drive.FailCommand(EmulatedDrive::Kind::Dump, 0x8000, 5);
        EXPECT_EQ(bench.Run(json ? "upgrade --yes --json" : "upgrade --yes"), 1);
        EXPECT_EQ(CliBench::WritesAndCommits(drive), 0u);
        if (!json) {
            EXPECT_EQ(bench.OutLines(),
                      (Lines{"Error Happen in ID 0 OFFSET 0x8000",
                             "The drive's flash could not be read to compare it with the image: nothing was written"}));
            continue;
        }
        ASSERT_EQ(bench.OutLines().size(), 1u);
        EXPECT_EQ(Member(bench.OutLines()[0], "outcome"), "\"failed\"");
        EXPECT_EQ(Member(bench.OutLines()[0], "changed"), "false");
    }
}

// Several drives: each read and judged on its own; only those to be written are asked about,
// and the run's status is the worst of theirs.
TEST(CliUpgradePlan, OverSeveralDrivesOnlyThoseToWriteAreAskedAboutAndWritten) {
    CliBench bench;
    EmulatedDrive& held = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EmulatedDrive& older = bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
    EmulatedDrive& newer = bench.Machine.AddDrive({0, 0, 2, 0}, "sr2", "sg2");
    HoldImage(bench, held);
    SetVersion(newer, 2, 0);
    bench.Terminal.Input = true;
    bench.Terminal.Answers = {"y"};
    EXPECT_EQ(bench.Run("upgrade --all"), 1);
    EXPECT_EQ(bench.Terminal.Questions,
              (std::vector<std::string>{"Write image version 1.51 to 1 drive:\n"
                                        "  Drive 2 (0, 0, 1, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr1\n"
                                        "without back-ups of their flash (--backup FOLDER keeps them)? [y/N] "}));
    EXPECT_EQ(CliBench::WritesAndCommits(held), 0u);
    EXPECT_TRUE(HoldsImage(bench, older));
    EXPECT_EQ(CliBench::WritesAndCommits(newer), 0u);
    EXPECT_EQ(bench.OutLines(),
              (Lines{"Drive 1 /dev/sr0: unchanged: the drive already holds this image (version 1.51; it reports "
                     "version 1.5 until it restarts): nothing written.",
                     "Drive 2 /dev/sr1: upgraded",
                     "Drive 3 /dev/sr2: not written: the drive runs version 2.0, newer than image version 1.51: "
                     "nothing written; add --allow-older to write the older image",
                     "3 drives: 1 upgraded, 1 unchanged, 1 not written",
                     "The new firmware takes effect when the drives restart: power-cycle them or restart the "
                     "computer."}));

    // The same again as JSON: now two hold the image, and the third is still refused.
    bench.Terminal = ScriptedTerminal();
    EXPECT_EQ(bench.Run("upgrade --all --yes --json"), 1);
    const std::string json = bench.OutLines().at(0);
    EXPECT_NE(json.find("\"device\":\"/dev/sr0\",\"versionBefore\":\"1.5\",\"imageVersion\":\"1.51\","
                        "\"outcome\":\"unchanged\",\"changed\":false}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"device\":\"/dev/sr1\",\"versionBefore\":\"1.5\",\"imageVersion\":\"1.51\","
                        "\"outcome\":\"unchanged\",\"changed\":false}"),
              std::string::npos);
    EXPECT_NE(json.find("\"device\":\"/dev/sr2\",\"versionBefore\":\"2.0\",\"imageVersion\":\"1.51\","
                        "\"outcome\":\"refused-older\",\"changed\":false}"),
              std::string::npos);
    EXPECT_NE(json.find("\"summary\":\"3 drives: 2 unchanged, 1 not written\""), std::string::npos);
    EXPECT_EQ(older.CommitCount(), 1u);
}

// Every drive holds the image: no question, nothing held, status 0.
TEST(CliUpgradePlan, SeveralDrivesThatAllHoldTheImageNeedNoQuestion) {
    CliBench bench;
    EmulatedDrive& first = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EmulatedDrive& second = bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
    HoldImage(bench, first);
    HoldImage(bench, second);
    EXPECT_EQ(bench.Run("upgrade --all"), 0);
    EXPECT_TRUE(bench.Terminal.Questions.empty());
    EXPECT_FALSE(bench.Signals.Holding);
    EXPECT_EQ(bench.OutLines().back(), "2 drives: 2 unchanged");
    EXPECT_EQ(CliBench::WritesAndCommits(first) + CliBench::WritesAndCommits(second), 0u);
}

}  // namespace

namespace {

// The question comes after the reads: a signal there still ends the run with nothing written.
TEST(CliUpgradePlan, ASignalAtTheQuestionOfSeveralDrivesWritesNothing) {
    CliBench bench;
    EmulatedDrive& first = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EmulatedDrive& second = bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
    bench.Terminal.Input = true;
    bench.Terminal.WhileReading = [&bench] { return bench.Signals.Deliver(SIGINT); };
    EXPECT_EQ(bench.Run("upgrade --all"), 130);
    EXPECT_EQ(bench.Terminal.Questions.size(), 1u);
    EXPECT_EQ(CliBench::FirmwareCommands(first), CliBench::ComparingReads());
    EXPECT_EQ(CliBench::FirmwareCommands(second), CliBench::ComparingReads());
    EXPECT_FALSE(bench.Signals.Holding);
    EXPECT_EQ(bench.OutLines(), (Lines{"Drive 1 /dev/sr0: not written: stopped by SIGINT before its first write",
                                       "Drive 2 /dev/sr1: not written: stopped by SIGINT before its first write",
                                       "2 drives: 2 not written"}));
    EXPECT_EQ(bench.ErrLines().back(), "flashupgrade: stopped by SIGINT: nothing was written to the drives");
}

}  // namespace

namespace {

// The rows of the reads stand above the question; the writes' rows are drawn anew below it, not
// over it.
TEST(CliUpgradePlan, OnATerminalTheRowsGoOnBelowTheQuestion) {
    CliBench bench;
    bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
    bench.Terminal.Input = true;
    bench.Terminal.Error = true;
    bench.Terminal.Answers = {"y"};
    EXPECT_EQ(bench.Run("upgrade --all"), 0);
    const std::string& err = bench.Terminal.Err;
    const size_t question = err.find("Write image version 1.51 to 2 drives at once:\n");
    ASSERT_NE(question, std::string::npos);
    EXPECT_NE(err.rfind("8/8 chunks read\n", question), std::string::npos);
    const size_t asked = err.find("[y/N] ", question) + 6;
    EXPECT_EQ(err.compare(asked, 4, "\r\x1b[K"), 0) << err.substr(asked, 20);
}

}  // namespace

namespace {

// No to the question: the drives asked about are not written; one that holds the image is still
// unchanged, not cancelled.
TEST(CliUpgradePlan, NoToTheQuestionLeavesTheDrivesThatHoldTheImageUnchanged) {
    CliBench bench;
    EmulatedDrive& held = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EmulatedDrive& other = bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
    HoldImage(bench, held);
    bench.Terminal.Input = true;
    bench.Terminal.Answers = {"n"};
    EXPECT_EQ(bench.Run("upgrade --all"), 1);
    EXPECT_EQ(CliBench::WritesAndCommits(held) + CliBench::WritesAndCommits(other), 0u);
    EXPECT_EQ(bench.OutLines(),
              (Lines{"Drive 1 /dev/sr0: unchanged: the drive already holds this image (version 1.51; it reports "
                     "version 1.5 until it restarts): nothing written.",
                     "Drive 2 /dev/sr1: not written: Upgrade cancelled: nothing was written",
                     "2 drives: 1 unchanged, 1 not written"}));
    // After the question on the standard error, why drive 2 was not written.
    const std::string& err = bench.Terminal.Err;
    EXPECT_EQ(err.substr(err.find("[y/N] ") + 6), "Drive 2 /dev/sr1: Upgrade cancelled: nothing was written\n");
}

}  // namespace
