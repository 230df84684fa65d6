// flashupgrade save and verify, and the back-up before an upgrade.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/cli/CliBench.h"

namespace {

const char HardwareError[] =
    "flashupgrade: /dev/sg0: the drive answered CHECK CONDITION, sense 04/44/00 HARDWARE ERROR, INTERNAL TARGET FAILURE";


using emulator::EmulatedDrive;
using Lines = std::vector<std::string>;
using Codes = std::vector<unsigned>;
using Bytes = std::vector<uint8_t>;

Bytes FlashOf(const EmulatedDrive& drive) {
    return Bytes(drive.Flash(), drive.Flash() + drive.FlashSize());
}

Codes Dumps(int chunks) {
    return Codes(static_cast<size_t>(chunks), 0x3C11);
}

TEST(CliSave, WritesTheWholeFlashIntoTheFile) {
    struct Case {
        const char* Name;
        uint32_t FlashSize;
        int Chunks;
    };
    const Case cases[] = {{"128 KiB", 0x20000, 8}, {"256 KiB", 0x40000, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0", c.FlashSize);
        EXPECT_EQ(bench.Run("save /tmp/flash.bin"), 0);
        EXPECT_EQ(bench.OutLines(), (Lines{"Save Firmware...", "Saved " + std::to_string(c.FlashSize) +
                                                                   " bytes of flash from (0, 0, 0, 0) EMULATED DVD-RW "
                                                                   "FLASH     Version 1.5 to /tmp/flash.bin"}));
        // Whole and on disk under its name, and nothing beside it.
        EXPECT_EQ(bench.Files.Files["/tmp/flash.bin"], FlashOf(drive));
        EXPECT_EQ(bench.Files.Files.size(), 1u);
        EXPECT_EQ(bench.FileSystem.Syncs, 1);
        EXPECT_EQ(bench.FileSystem.FolderSyncs, 1);
        EXPECT_EQ(CliBench::FirmwareCommands(drive), Dumps(c.Chunks));
        EXPECT_EQ(bench.FileSystem.OpenCount(), 0);
    }
}

TEST(CliSave, AnExistingFileIsOverwrittenOnlyWhenSomeoneSaidSo) {
    const char* Saved = "Saved 131072 bytes of flash from (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 to old.bin";
    struct Case {
        const char* Name;
        bool Terminal;
        const char* Answer;
        const char* Arguments;
        int Exit;
        bool Overwritten;
        Lines Out;
        Lines Err;
    };
    const Case cases[] = {
        {"answered yes", true, "y", "save old.bin", 0, true, {"Save Firmware...", Saved}, {}},
        {"answered no", true, "n", "save old.bin", 1, false, {"File old.bin Exist, User cancel ..."}, {}},
        {"--yes on a terminal", true, nullptr, "save old.bin --yes", 0, true, {"Save Firmware...", Saved}, {}},
        {"--yes without a terminal", false, nullptr, "save old.bin --yes", 0, true, {"Save Firmware...", Saved}, {}},
        {"no one to ask", false, nullptr, "save old.bin", 2, false, {},
         {"flashupgrade: old.bin exists: add --yes to overwrite it where no one can be asked"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.Files.Files["old.bin"] = Bytes(10, 0xAA);
        bench.Terminal.Input = c.Terminal;
        if (c.Answer != nullptr) bench.Terminal.Answers.push_back(c.Answer);
        EXPECT_EQ(bench.Run(c.Arguments), c.Exit);
        EXPECT_EQ(bench.OutLines(), c.Out);
        // A question stands on the standard error, its line ended by the one who answers.
        if (c.Answer == nullptr) {
            EXPECT_EQ(bench.ErrLines(), c.Err);
        }
        EXPECT_EQ(bench.Files.Files["old.bin"], c.Overwritten ? FlashOf(drive) : Bytes(10, 0xAA));
        if (c.Answer != nullptr) {
            ASSERT_EQ(bench.Terminal.Questions.size(), 1u);
            EXPECT_EQ(bench.Terminal.Questions[0], "File old.bin Exist, Overwrite ? [y/N] ");
        } else {
            EXPECT_TRUE(bench.Terminal.Questions.empty());
        }
    }
}

TEST(CliSave, AnEmptyFileIsTakenWithoutAQuestion) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.Files.Files["old.bin"] = Bytes();
    EXPECT_EQ(bench.Run("save old.bin"), 0);
    EXPECT_TRUE(bench.Terminal.Questions.empty());
    EXPECT_EQ(bench.Files.Files["old.bin"], FlashOf(drive));
}

TEST(CliSave, TheBarMovesPerChunkReadOnATerminal) {
    for (uint32_t chunks : {8u, 1u}) {
        SCOPED_TRACE(chunks);
        CliBench bench;
        bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0", chunks * 0x4000);
        bench.Terminal.Error = true;
        EXPECT_EQ(bench.Run("save out.bin"), 0);
        std::string expected;
        const uint32_t width = 32 / chunks;
        for (uint32_t done = 0; done <= chunks; ++done) {
            expected += "\r[" + std::string(done * width, '#') + std::string(32 - done * width, '.') + "] " +
                        std::to_string(done) + "/" + std::to_string(chunks) + " chunks";
        }
        EXPECT_EQ(bench.Terminal.Err, expected + "\n");
    }
}

TEST(CliSave, EveryFailureLeavesTheFileAsItWasAndNothingBesideIt) {
    struct Case {
        const char* Name;
        void (*Arrange)(CliBench&, EmulatedDrive&);
        int Exit;
        Lines Out;
        Lines Err;
    };
    const char* started = "Save Firmware...";
    const char* untouched = "out.bin left as it was";
    const Case cases[] = {
        {"the fifth chunk fails five times",
         [](CliBench&, EmulatedDrive& d) { d.FailCommand(EmulatedDrive::Kind::Dump, 0x10000, 5); }, 1,
         {started, "Error Happen in ID 1 OFFSET 0x0000", untouched}, {HardwareError}},
        {"drive busy", [](CliBench& b, EmulatedDrive&) { b.Machine.Machine.Mount("/dev/sr0"); }, 2,
         {started, untouched}, {"flashupgrade: /dev/sr0: busy: mounted, or held open by another program"}},
        {"i/o error on every dump",
         [](CliBench& b, EmulatedDrive&) {
             b.Machine.Machine.BeforeCommand = [](const std::vector<uint8_t>& cdb) {
                 return cdb[0] == 0x3C && cdb[9] == 0x01 ? EIO : 0;
             };
         },
         1, {started, "Error Happen in ID 0 OFFSET 0x0000", untouched}, {"flashupgrade: /dev/sg0: Input/output error"}},
        {"another drive at the node",
         [](CliBench& b, EmulatedDrive& d) {
             // Once listed (two commands), the drive gives way to another one at the same node.
             b.Machine.Machine.BeforeCommand = [&d, seen = 0](const std::vector<uint8_t>&) mutable {
                 if (++seen == 3) {
                     emulator::DriveConfig config = d.Config();
                     config.versionMinor = 7;
                     d.Configure(config);
                 }
                 return 0;
             };
         },
         2, {started, untouched},
         {"flashupgrade: /dev/sr0 now answers as (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.7, not as the "
          "listed (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5: nothing was written"}},
        {"folder not writable", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailCreate = EACCES; }, 2,
         {started, untouched}, {"flashupgrade: out.bin: Permission denied"}},
        {"disk full", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailWrite = ENOSPC; }, 2, {started, untouched},
         {"flashupgrade: out.bin: No space left on device"}},
        {"flush fails", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailSync = EIO; }, 2, {started, untouched},
         {"flashupgrade: out.bin: Input/output error"}},
        {"close fails", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailClose = EDQUOT; }, 2, {started, untouched},
         {"flashupgrade: out.bin: Disk quota exceeded"}},
        {"rename fails", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailRename = EXDEV; }, 2,
         {started, untouched}, {"flashupgrade: out.bin: Invalid cross-device link"}},
        {"no buffer", [](CliBench& b, EmulatedDrive&) { b.Buffers.FailRequestNumber = 1; }, 1,
         {started, "Memory (Write) Initialization Failed!!", untouched}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.Files.Files["out.bin"] = Bytes(10, 0xAA);
        c.Arrange(bench, drive);
        EXPECT_EQ(bench.Run("save out.bin --yes"), c.Exit);
        EXPECT_EQ(bench.OutLines(), c.Out);
        EXPECT_EQ(bench.ErrLines(), c.Err);
        EXPECT_EQ(bench.Files.Files["out.bin"], Bytes(10, 0xAA));
        EXPECT_EQ(bench.Files.Files.size(), 1u);
        EXPECT_EQ(bench.FileSystem.OpenCount(), 0);
        EXPECT_EQ(bench.Buffers.Held(), 0u);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    }
}

TEST(CliSave, AFileThatIsNoneIsRefusedBeforeTheDrive) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.FileSystem.Unusual = {"/dev/null"};
    EXPECT_EQ(bench.Run("save /dev/null --yes"), 2);
    EXPECT_EQ(bench.ErrLines(), (Lines{"flashupgrade: /dev/null: not a regular file"}));
    EXPECT_TRUE(bench.OutLines().empty());
    EXPECT_TRUE(CliBench::FirmwareCommands(drive).empty());
    EXPECT_TRUE(bench.Files.Files.empty());
}

TEST(CliSave, AFolderThatCouldNotBeFlushedIsSaidOfAFileAlreadyInPlace) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.FileSystem.FailSyncFolder = EIO;
    EXPECT_EQ(bench.Run("save out.bin"), 2);
    EXPECT_EQ(bench.OutLines(), (Lines{"Save Firmware...", "out.bin holds the flash, but may not survive a power cut"}));
    EXPECT_EQ(bench.ErrLines(), (Lines{"flashupgrade: out.bin: Input/output error"}));
    EXPECT_EQ(bench.Files.Files["out.bin"], FlashOf(drive));
}

TEST(CliVerify, ComparesTheFlashWithTheImageChunkByChunkAndWritesNothing) {
    struct Case {
        const char* Name;
        int Differing;   // chunks of the flash changed after an upgrade; -1: no upgrade before
        int Exit;
        const char* Line;
    };
    const Case cases[] = {
        {"never upgraded", -1, 1, "flash differs from image version 1.51 in 8 of 8 chunks"},
        {"upgraded", 0, 0, "flash equals image version 1.51"},
        {"two chunks changed since", 2, 1, "flash differs from image version 1.51 in 2 of 8 chunks"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        if (c.Differing >= 0) {
            std::memcpy(drive.Flash(), bench.Image().data(), CliBench::ImageSize);
            for (int i = 0; i < c.Differing; ++i) drive.Flash()[0x4000 * (2 * i + 1) + 9] ^= 0xFF;
            drive.ResetStaging();
        }
        drive.ClearLog();
        EXPECT_EQ(bench.Run("verify"), c.Exit);
        EXPECT_EQ(bench.OutLines(), (Lines{c.Line}));
        EXPECT_EQ(CliBench::FirmwareCommands(drive), Dumps(8));
        EXPECT_EQ(bench.Buffers.Held(), 0u);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    }
}

TEST(CliVerify, RefusesWhatCannotHoldTheImage) {
    struct Case {
        const char* Name;
        uint32_t FlashSize;
        bool Unfilled;
        const char* Line;
    };
    const Case cases[] = {
        {"256 KiB", 0x40000, false, "The drive's flash holds 262144 bytes, the image 131072: it cannot hold the image"},
        {"unfilled slot", 0x20000, true, "Need Combine firmware first !!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0", c.FlashSize);
        if (c.Unfilled) bench.LeaveSlotUnfilled();
        EXPECT_EQ(bench.Run("verify"), 1);
        EXPECT_EQ(bench.OutLines(), (Lines{c.Line}));
        EXPECT_TRUE(CliBench::FirmwareCommands(drive).empty());
    }
}

TEST(CliBackup, KeepsTheOldFlashBeforeTheFirstWrite) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    const Bytes old = FlashOf(drive);
    bench.Terminal.Input = true;
    bench.Terminal.Answers.push_back("y");
    EXPECT_EQ(bench.Run("upgrade --backup old.bin"), 0);
    ASSERT_EQ(bench.Terminal.Questions.size(), 1u);
    EXPECT_EQ(bench.Terminal.Questions[0],
              "Write image version 1.51 to (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5, its old flash kept in "
              "old.bin? [y/N] ");
    EXPECT_EQ(bench.OutLines(), (Lines{"Save Firmware...", "Back-up of the flash kept in old.bin", "Upgrade Firmware...",
                                       "Committed: reading the whole flash back to compare it with the image",
                                       "Upgrade Firmware Successful!!",
                                       "The new firmware takes effect when the drive restarts: power-cycle it or "
                                       "restart the computer.",
                                       "flash equals image version 1.51"}));
    EXPECT_EQ(bench.Files.Files["old.bin"], old);
    EXPECT_EQ(bench.Files.Files.size(), 1u);   // no temporary file beside it
    EXPECT_EQ(bench.FileSystem.Syncs, 1);
    EXPECT_EQ(bench.FileSystem.FolderSyncs, 1);
    // The back-up's reads are the ones that compare the flash with the image: made once.
    Codes expected = Dumps(8);
    for (int i = 0; i < 8; ++i) {
        expected.push_back(0x3B07);
        expected.push_back(0x3C02);
    }
    expected.push_back(0x3B04);
    expected.push_back(0x0000);
    expected.insert(expected.end(), 8, 0x3C11);
    EXPECT_EQ(CliBench::FirmwareCommands(drive), expected);
    EXPECT_EQ(std::memcmp(drive.Flash(), bench.Image().data(), CliBench::ImageSize), 0);
}

TEST(CliBackup, EveryFailureStopsBeforeTheFirstWriteAndLeavesNoTemporaryFile) {
    struct Case {
        const char* Name;
        void (*Arrange)(CliBench&, EmulatedDrive&);
        int Exit;
        Lines Out;
        Lines Err;
    };
    const char* notKept = "Back-up not kept: nothing was written to the drive";
    const Case cases[] = {
        // A file the system refused: its reason, status 2.
        {"folder not writable", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailCreate = EACCES; }, 2,
         {"Save Firmware...", notKept}, {"flashupgrade: old.bin: Permission denied"}},
        {"chunk fails five times",
         [](CliBench&, EmulatedDrive& d) { d.FailCommand(EmulatedDrive::Kind::Dump, 0x1C000, 5); }, 1,
         {"Save Firmware...", "Error Happen in ID 1 OFFSET 0xC000", notKept}, {HardwareError}},
        {"disk full", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailWrite = ENOSPC; }, 2,
         {"Save Firmware...", notKept}, {"flashupgrade: old.bin: No space left on device"}},
        {"flush fails", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailSync = EIO; }, 2,
         {"Save Firmware...", notKept}, {"flashupgrade: old.bin: Input/output error"}},
        {"close fails", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailClose = EDQUOT; }, 2,
         {"Save Firmware...", notKept}, {"flashupgrade: old.bin: Disk quota exceeded"}},
        {"rename fails", [](CliBench& b, EmulatedDrive&) { b.FileSystem.FailRename = EXDEV; }, 2,
         {"Save Firmware...", notKept}, {"flashupgrade: old.bin: Invalid cross-device link"}},
        {"no buffer", [](CliBench& b, EmulatedDrive&) { b.Buffers.FailRequestNumber = 1; }, 1,
         {"Save Firmware...", "Memory (Write) Initialization Failed!!", notKept}, {}},
        {"drive busy", [](CliBench& b, EmulatedDrive&) { b.Machine.Machine.Mount("/dev/sr0"); }, 2,
         {"Save Firmware...", notKept}, {"flashupgrade: /dev/sr0: busy: mounted, or held open by another program"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        const Bytes old = FlashOf(drive);
        c.Arrange(bench, drive);
        EXPECT_EQ(bench.Run("upgrade --yes --backup old.bin"), c.Exit);
        EXPECT_EQ(bench.OutLines(), c.Out);
        EXPECT_EQ(bench.ErrLines(), c.Err);
        for (unsigned code : CliBench::FirmwareCommands(drive)) EXPECT_EQ(code, 0x3C11u);
        EXPECT_EQ(FlashOf(drive), old);
        EXPECT_TRUE(bench.Files.Files.empty());
        EXPECT_EQ(bench.FileSystem.OpenCount(), 0);
        EXPECT_EQ(bench.Buffers.Held(), 0u);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    }
}

TEST(CliBackup, AnExistingBackUpFileFollowsTheOverwriteRuleOfSave) {
    struct Case {
        const char* Name;
        bool Terminal;
        std::vector<std::string> Answers;
        const char* Arguments;
        int Exit;
        bool Upgraded;
        bool Kept;   // the back-up replaced the file: it is kept before the upgrade is asked about
    };
    const Case cases[] = {
        {"no overwrite", true, {"n"}, "upgrade --backup old.bin", 1, false, false},
        {"overwrite, then no upgrade", true, {"y", "n"}, "upgrade --backup old.bin", 1, false, true},
        {"overwrite and upgrade", true, {"y", "y"}, "upgrade --backup old.bin", 0, true, true},
        {"no one to ask", false, {}, "upgrade --backup old.bin", 2, false, false},
        {"--yes", false, {}, "upgrade --yes --backup old.bin", 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        const Bytes old = FlashOf(drive);
        bench.Files.Files["old.bin"] = Bytes(3, 0x01);
        bench.Terminal.Input = c.Terminal;
        for (const std::string& answer : c.Answers) bench.Terminal.Answers.push_back(answer);
        EXPECT_EQ(bench.Run(c.Arguments), c.Exit);
        EXPECT_EQ(drive.CommitCount(), c.Upgraded ? 1u : 0u);
        EXPECT_EQ(bench.Files.Files["old.bin"], c.Kept ? old : Bytes(3, 0x01));
    }
    CliBench bench;
    bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.Files.Files["old.bin"] = Bytes(3, 0x01);
    bench.Terminal.Input = true;
    bench.Terminal.Answers.push_back("n");
    bench.Run("upgrade --backup old.bin");
    EXPECT_EQ(bench.Terminal.Questions, (std::vector<std::string>{"File old.bin Exist, Overwrite ? [y/N] "}));
    EXPECT_EQ(bench.OutLines(), (Lines{"File old.bin Exist, User cancel ..."}));
}

TEST(CliBackup, ADryRunKeepsTheBackUpAndWritesNothingToTheDrive) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EXPECT_EQ(bench.Run("upgrade --dry-run --backup old.bin"), 0);
    EXPECT_EQ(bench.Files.Files["old.bin"], FlashOf(drive));
    EXPECT_EQ(CliBench::FirmwareCommands(drive), Dumps(8));
}

}  // namespace
