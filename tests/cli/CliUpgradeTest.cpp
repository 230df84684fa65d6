// flashupgrade upgrade: the texts, the question, the selection, the refusals of the environment,
// the dry run and the progress bar.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/cli/CliBench.h"

namespace {

using emulator::EmulatedDrive;
using Lines = std::vector<std::string>;
using Codes = std::vector<unsigned>;

const char RestartLine[] =
    "The new firmware takes effect when the drive restarts: power-cycle it or restart the computer.";
const char ReadingBack[] = "Committed: reading the whole flash back to compare it with the image";
const char FlashEqualsImage[] = "flash equals image version 1.51";
const Lines UpgradeDone = {"Upgrade Firmware...", ReadingBack, "Upgrade Firmware Successful!!", RestartLine,
                           FlashEqualsImage};

Codes EightChunksAndCommit() {
    Codes codes;
    for (int i = 0; i < 8; ++i) {
        codes.push_back(0x3B07);
        codes.push_back(0x3C02);
    }
    codes.push_back(0x3B04);
    return codes;
}

// The commit, then the check that follows it: TEST UNIT READY and the eight dump reads.
Codes EightChunksCommitAndCheck() {
    Codes codes = EightChunksAndCommit();
    codes.push_back(0x0000);
    codes.insert(codes.end(), 8, 0x3C11);
    return codes;
}

// How many SG_IOs carried a WRITE BUFFER, whether or not the kernel let them through.
size_t WritesSent(const SimulatedLinuxMachine& machine) {
    size_t writes = 0;
    for (const SimulatedLinuxMachine::ScsiCall& call : machine.ScsiCalls()) {
        if (!call.Cdb.empty() && call.Cdb[0] == 0x3B) ++writes;
    }
    return writes;
}

TEST(CliUpgrade, WritesVerifiesAndCommitsTheImageAndSaysWhenItTakesEffect) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EXPECT_EQ(bench.Run("upgrade --yes"), 0);
    EXPECT_EQ(bench.OutLines(), UpgradeDone);
    EXPECT_EQ(bench.Terminal.Err, "");
    EXPECT_EQ(std::memcmp(drive.Flash(), bench.Image().data(), CliBench::ImageSize), 0);
    // The scan's identification, the same again once the drive is held, the flash read to
    // compare it with the image, the identification again, then the writes; after the commit
    // the drive is not asked who it is (new firmware may answer otherwise).
    Codes expected = {0x1200, 0x3C01, 0x1200, 0x3C01};
    const Codes reads = CliBench::ComparingReads();
    expected.insert(expected.end(), reads.begin(), reads.end());
    expected.insert(expected.end(), {0x1200, 0x3C01});
    const Codes firmware = EightChunksCommitAndCheck();
    expected.insert(expected.end(), firmware.begin(), firmware.end());
    EXPECT_EQ(LinuxMachineBench::Commands(drive), expected);
    // In ascending order.
    for (uint32_t i = 0; i < 16; ++i) {
        const EmulatedDrive::LogEntry* entry = drive.LogAt(14 + i);
        EXPECT_EQ(entry->bufferId * 0x10000u + entry->bufferOffset, (i / 2) * 0x4000u) << i;
    }
    EXPECT_EQ(bench.Sleep.Pauses, (std::vector<unsigned>{200}));
    EXPECT_EQ(bench.Buffers.Held(), 0u);
    EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
}

TEST(CliUpgrade, AsksOnceOnATerminalAndWritesOnlyOnYes) {
    struct Case {
        const char* Answer;   // nullptr: the input ends
        int Exit;
        bool Written;
    };
    const Case cases[] = {
        {"y", 0, true}, {"YES", 0, true}, {" yes ", 0, true}, {"n", 1, false}, {"", 1, false}, {"yess", 1, false},
        {nullptr, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Answer != nullptr ? c.Answer : "(end of input)");
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.Terminal.Input = true;
        if (c.Answer != nullptr) bench.Terminal.Answers.push_back(c.Answer);
        EXPECT_EQ(bench.Run("upgrade"), c.Exit);
        ASSERT_EQ(bench.Terminal.Questions.size(), 1u);
        EXPECT_EQ(bench.Terminal.Questions[0],
                  "Write image version 1.51 to (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5, without a "
                  "back-up of its flash (--backup FILE keeps one)? [y/N] ");
        EXPECT_EQ(drive.CommitCount(), c.Written ? 1u : 0u);
        // An input that ends leaves the question's line ended.
        if (c.Answer == nullptr) {
            EXPECT_EQ(bench.Terminal.Err, bench.Terminal.Questions[0] + "\n");
        }
        if (!c.Written) {
            EXPECT_EQ(bench.OutLines(), (Lines{"Upgrade cancelled: nothing was written"}));
            // The question comes after the flash was read and compared, and before any write.
            EXPECT_EQ(CliBench::FirmwareCommands(drive), CliBench::ComparingReads());
        }
    }
}

TEST(CliUpgrade, WithoutATerminalYesIsNeeded) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    EXPECT_EQ(bench.Run("upgrade"), 2);
    EXPECT_EQ(bench.ErrLines(), (Lines{"flashupgrade: no terminal to ask before writing the firmware: add --yes"}));
    EXPECT_EQ(CliBench::FirmwareCommands(drive), CliBench::ComparingReads());
    EXPECT_TRUE(bench.Terminal.Questions.empty());
}

TEST(CliUpgrade, SeveralDrivesNeedOneNamed) {
    struct Case {
        const char* Arguments;
        int Exit;
        int Upgraded;   // position, -1: none
        Lines Err;
    };
    const char* listing1 = "1: (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0";
    const char* listing2 = "2: (0, 0, 1, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr1";
    const Case cases[] = {
        {"upgrade --yes", 2, -1,
         {"flashupgrade: 2 drives found: name one with --drive N or --device PATH", listing1, listing2}},
        {"upgrade --yes --drive 1", 0, 0, {}},
        {"upgrade --yes --drive 2", 0, 1, {}},
        {"upgrade --yes --drive 3", 2, -1, {"flashupgrade: no drive 3: list shows 2"}},
        {"upgrade --yes --drive 109", 2, -1, {"flashupgrade: no drive 109: list shows 2"}},
        // Any path to a node of the drive, by its device number, links followed.
        {"upgrade --yes --device /dev/sr0", 0, 0, {}},
        {"upgrade --yes --device /dev/sr1", 0, 1, {}},
        {"upgrade --yes --device /dev/sg1", 0, 1, {}},
        {"upgrade --yes --device /dev/cdrom", 0, 1, {}},
        {"upgrade --yes --device /dev/dvd", 0, 1, {}},
        {"upgrade --yes --device /dev/disk/by-path/pci-0000:00:04.0-scsi-0:0:0:0", 0, 0, {}},
        // What is no node of a listed drive.
        {"upgrade --yes --device /dev/sr7", 2, -1, {"flashupgrade: /dev/sr7: no such file"}},
        {"upgrade --yes --device /home/user/flash.bin", 2, -1, {"flashupgrade: /home/user/flash.bin: not a device node"}},
        {"upgrade --yes --device /dev", 2, -1, {"flashupgrade: /dev: not a device node"}},
        {"upgrade --yes --device /dev/sda", 2, -1, {"flashupgrade: no drive of the family at /dev/sda"}},
        {"upgrade --yes --device /dev/sr2", 2, -1, {"flashupgrade: no drive of the family at /dev/sr2"}},
        {"upgrade --yes --device /dev/weird", 2, -1, {"flashupgrade: no drive of the family at /dev/weird"}},
        {"upgrade --yes --device /dev/loop", 2, -1, {"flashupgrade: /dev/loop: Too many levels of symbolic links"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments);
        CliBench bench;
        EmulatedDrive* drives[2] = {&bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0"),
                                    &bench.Machine.AddDrive({0, 0, 1, 0}, "sr1", "sg1")};
        SimulatedLinuxMachine& machine = bench.Machine.Machine;
        machine.AddLink("/dev/cdrom", "/dev/sr1");
        machine.AddLink("/dev/dvd", "/dev/cdrom");
        machine.AddLink("/dev/disk/by-path/pci-0000:00:04.0-scsi-0:0:0:0", "/dev/sr0");
        machine.AddPath("/home/user/flash.bin", S_IFREG);
        machine.AddPath("/dev", S_IFDIR);
        machine.AddPath("/dev/sda", S_IFBLK, makedev(8, 0));
        machine.AddPath("/dev/sr2", S_IFBLK, makedev(11, 2));     // a drive of another family
        machine.AddPath("/dev/weird", S_IFCHR, makedev(11, 0));   // sr0's numbers, but a character device
        machine.AddLink("/dev/loop", "/dev/loop");
        EXPECT_EQ(bench.Run(c.Arguments), c.Exit);
        EXPECT_EQ(bench.ErrLines(), c.Err);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(drives[i]->CommitCount(), i == c.Upgraded ? 1u : 0u) << i;
    }
}

TEST(CliUpgrade, WhatTheOperationRefusesEndsBeforeTheFirstWriteWithItsText) {
    struct Case {
        const char* Name;
        uint32_t FlashSize;
        uint16_t SizeWord;
        void (*Arrange)(CliBench&);
        Lines Out;
        bool Opened;   // whether any node was claimed
        bool Read;     // whether the flash was read to compare it with the image
    };
    const Case cases[] = {
        {"unfilled slot", 0x20000, 0, [](CliBench& b) { b.LeaveSlotUnfilled(); }, {"Need Combine firmware first !!"},
         false, false},
        // Neither read nor asked: the flash cannot hold the image, or the image is damaged.
        {"flash of 256 KiB", 0x40000, 0, [](CliBench&) {},
         {"Upgrade Firmware...", "The drive's flash holds 262144 bytes, the image 131072: nothing was written"}, true,
         false},
        {"checksum", 0x20000, 0, [](CliBench& b) { b.SetImage(0x02, 0x12, "0011"); },
         {"Upgrade Firmware...", "Check sum not match!! (0010 / 0011)"}, true, false},
        {"no buffer to read the flash into", 0x20000, 0, [](CliBench& b) { b.Buffers.FailRequestNumber = 1; },
         {"Memory (Write) Initialization Failed!!",
          "The drive's flash could not be read to compare it with the image: nothing was written"},
         false, false},
        {"no write buffer", 0x20000, 0, [](CliBench& b) {
             b.Buffers.FailRequestNumber = 2;
             b.Terminal.Input = true;
             b.Terminal.Answers.push_back("y");
         },
         {"Upgrade Firmware...", "Memory (Write) Initialization Failed!!"}, true, true},
        {"no read-back buffer", 0x20000, 0, [](CliBench& b) {
             b.Buffers.FailRequestNumber = 3;
             b.Terminal.Input = true;
             b.Terminal.Answers.push_back("y");
         },
         {"Upgrade Firmware...", "Memory (Read) Initialization Failed!!"}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive =
            bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0", c.FlashSize, c.SizeWord);
        c.Arrange(bench);
        // Where the image cannot be written nothing is asked, and not even --yes is needed.
        EXPECT_EQ(bench.Run("upgrade"), 1);
        EXPECT_EQ(bench.OutLines(), c.Out);
        EXPECT_EQ(CliBench::FirmwareCommands(drive), c.Read ? CliBench::ComparingReads() : Codes{});
        bool claimed = false;
        for (const SimulatedLinuxMachine::OpenCall& open : bench.Machine.Machine.OpenCalls()) {
            if ((open.Flags & O_EXCL) != 0) claimed = true;
        }
        EXPECT_EQ(claimed, c.Opened);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
        EXPECT_EQ(bench.Buffers.Held(), 0u);
    }
}

TEST(CliUpgrade, AChunkFailingFiveTimesEndsWithItsTextAndNoCommit) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    drive.FailCommand(EmulatedDrive::Kind::WriteChunk, 0x14000, 5);
    // Five chunks were written before it: status 3, and what to do.
    EXPECT_EQ(bench.Run("upgrade --yes"), 3);
    EXPECT_EQ(bench.OutLines(), (Lines{"Upgrade Firmware...", "Error Happen in ID 1 OFFSET 0x4000",
                                       "Do not power off or restart the computer or the drive: its firmware may be "
                                       "incomplete. Run the same upgrade again: flashupgrade upgrade --device /dev/sr0"}));
    EXPECT_EQ(drive.CommitCount(), 0u);
    EXPECT_EQ(bench.ErrLines(), (Lines{"flashupgrade: /dev/sg0: the drive answered CHECK CONDITION, sense 04/44/00 "
                                       "HARDWARE ERROR, INTERNAL TARGET FAILURE"}));
}

TEST(CliUpgrade, TheEnvironmentsRefusalIsOneLineWithExit2) {
    struct Case {
        const char* Name;
        const char* Block;
        void (*Arrange)(SimulatedLinuxMachine&);
        Lines Out;
        Lines Err;
        size_t WritesSent;
    };
    const Case cases[] = {
        {"mounted", "sr0", [](SimulatedLinuxMachine& m) { m.Mount("/dev/sr0"); }, {},
         {"flashupgrade: /dev/sr0: busy: mounted, or held open by another program"}, 0},
        {"held by another program", "sr0", [](SimulatedLinuxMachine& m) { m.HoldElsewhere("/dev/sg0"); },
         {}, {"flashupgrade: /dev/sg0: busy: mounted, or held open by another program"}, 0},
        {"no access to the generic node", "sr0",
         [](SimulatedLinuxMachine& m) {
             m.SetRoot(false);
             m.SetPermission("/dev/sg0", false, false);
         },
         {},
         {"flashupgrade: /dev/sg0: no permission: needs root, or read and write access to /dev/sg0"}, 0},
        {"generic node gone", "sr0", [](SimulatedLinuxMachine& m) { m.RemoveNode("/dev/sg0"); },
         {}, {"flashupgrade: /dev/sg0: gone: the drive is no longer there"}, 0},
        // The kernel refuses the first write: said once, not as five failed attempts.
        {"write refused through the generic node", "sr0",
         [](SimulatedLinuxMachine& m) { m.FailScsi("/dev/sg0", EPERM, 0x3B); },
         {"Upgrade Firmware..."},
         {"flashupgrade: /dev/sg0: no permission: needs root, or read and write access to /dev/sg0"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, c.Block, "sg0");
        c.Arrange(bench.Machine.Machine);
        bench.Machine.Machine.ClearCalls();
        EXPECT_EQ(bench.Run("upgrade --yes"), 2);
        EXPECT_EQ(bench.OutLines(), c.Out);
        EXPECT_EQ(bench.ErrLines(), c.Err);
        EXPECT_EQ(WritesSent(bench.Machine.Machine), c.WritesSent);
        EXPECT_EQ(drive.CommitCount(), 0u);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    }
}

TEST(CliUpgrade, AWriteRefusedThroughABlockNodeNamesWhatWouldLetItThrough) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "");
    bench.Machine.Machine.FailScsi("/dev/sr0", EPERM, 0x3B);
    EXPECT_EQ(bench.Run("upgrade --yes"), 2);
    EXPECT_EQ(bench.OutLines(), (Lines{"Upgrade Firmware..."}));
    EXPECT_EQ(bench.ErrLines(),
              (Lines{"flashupgrade: /dev/sr0: no permission to write firmware through this node: needs root, or the "
                     "sg driver (modprobe sg) and read and write access to the drive's /dev/sgN"}));
    EXPECT_EQ(WritesSent(bench.Machine.Machine), 1u);
    EXPECT_EQ(drive.CommitCount(), 0u);
}

TEST(CliUpgrade, WithoutPrivilegeABlockNodeOnlyDriveIsRefusedBeforeAnythingIsAsked) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "");
    bench.Machine.Machine.SetRoot(false);
    bench.Terminal.Input = true;
    bench.Terminal.Answers.push_back("y");
    EXPECT_EQ(bench.Run("upgrade"), 2);
    EXPECT_TRUE(bench.Terminal.Questions.empty());
    EXPECT_EQ(bench.ErrLines(),
              (Lines{"flashupgrade: /dev/sr0: no permission to write firmware through this node: needs root, or the "
                     "sg driver (modprobe sg) and read and write access to the drive's /dev/sgN"}));
    EXPECT_TRUE(CliBench::FirmwareCommands(drive).empty());
    EXPECT_EQ(bench.Machine.Machine.OpenCalls().size(), 1u);   // the scan's
}

TEST(CliUpgrade, TheGroupOfBothNodesIsEnoughWithoutRoot) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.Machine.Machine.SetRoot(false);
    EXPECT_EQ(bench.Run("upgrade --yes"), 0);
    EXPECT_EQ(std::memcmp(drive.Flash(), bench.Image().data(), CliBench::ImageSize), 0);
}

TEST(CliUpgrade, ADryRunDoesEverythingButWrite) {
    struct Case {
        const char* Name;
        uint32_t FlashSize;
        int Exit;
        Lines Out;
        bool Read;     // the flash read and compared, as a real run would
        size_t Opens;  // the scan's, the reads', and the claim of the drive as an upgrade would
    };
    const Case cases[] = {
        {"would write", 0x20000, 0,
         {"Upgrade Firmware...",
          "Dry run: (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0 would get image version 1.51; "
          "nothing was written"},
         true, 5},
        {"flash of 256 KiB", 0x40000, 1,
         {"Upgrade Firmware...", "The drive's flash holds 262144 bytes, the image 131072: nothing was written"}, false,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0", c.FlashSize);
        EXPECT_EQ(bench.Run("upgrade --dry-run"), c.Exit);
        EXPECT_EQ(bench.OutLines(), c.Out);
        EXPECT_EQ(CliBench::FirmwareCommands(drive), c.Read ? CliBench::ComparingReads() : Codes{});
        EXPECT_EQ(WritesSent(bench.Machine.Machine), 0u);
        EXPECT_EQ(bench.Machine.Machine.OpenCalls().size(), c.Opens);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
        EXPECT_EQ(bench.Buffers.Held(), 0u);
    }
}

TEST(CliUpgrade, TheBarMovesPerVerifiedChunkOnATerminalOnly) {
    for (bool terminal : {false, true}) {
        SCOPED_TRACE(terminal);
        CliBench bench;
        bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.Terminal.Error = terminal;
        EXPECT_EQ(bench.Run("upgrade --yes"), 0);
        if (!terminal) {
            EXPECT_EQ(bench.Terminal.Err, "");
            continue;
        }
        std::string expected;
        for (int done = 0; done <= 8; ++done) {
            expected += "\r[" + std::string(done * 4, '#') + std::string(32 - done * 4, '.') + "] " +
                        std::to_string(done) + "/8 chunks";
        }
        // The bar of the reads that compare the flash with the image, the write's, then the
        // read-back's after the commit.
        EXPECT_EQ(bench.Terminal.Err, expected + "\n" + expected + "\n" + expected + "\n");
        // The texts stay on lines of their own.
        EXPECT_EQ(bench.OutLines(), UpgradeDone);
    }
}

TEST(CliUpgrade, ARetriedChunkDoesNotMoveTheBar) {
    CliBench bench;
    EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    drive.CorruptReadBack(0x8000, 2);
    bench.Terminal.Error = true;
    EXPECT_EQ(bench.Run("upgrade --yes"), 0);
    const std::string& err = bench.Terminal.Err;
    size_t shown = 0;
    for (size_t at = err.find("/8 chunks"); at != std::string::npos; at = err.find("/8 chunks", at + 1)) ++shown;
    // Nine (0 to 8) for the reads before the write, for the write, and for the read-back after
    // the commit.
    EXPECT_EQ(shown, 27u);
}

TEST(CliUpgrade, AnotherDriveAtTheNodeWhileTheQuestionWaitedGetsNothing) {
    struct Case {
        const char* Name;
        void (*Swap)(emulator::DriveConfig&);
        const char* Answer;   // what the node answers now
    };
    const Case cases[] = {
        {"another drive of the family", [](emulator::DriveConfig& c) { c.versionMinor = 2; },
         "(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.2"},
        {"a drive of another family",
         [](emulator::DriveConfig& c) {
             c.SetVendor("OTHER");
             c.makerWord = 0x1111;
         },
         "OTHER    DVD-RW FLASH    , no drive of the family"},
        {"no CD/DVD drive", [](emulator::DriveConfig& c) { c.deviceType = 0; }, "a device that is no drive of the family"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        CliBench bench;
        EmulatedDrive& drive = bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        const std::vector<uint8_t> old(drive.Flash(), drive.Flash() + drive.FlashSize());
        bench.Terminal.Input = true;
        bench.Terminal.Answers.push_back("y");
        bench.Terminal.WhileReading = [&] {
            emulator::DriveConfig config = drive.Config();
            c.Swap(config);
            drive.Configure(config);
            return false;
        };
        EXPECT_EQ(bench.Run("upgrade"), 2);
        EXPECT_EQ(bench.OutLines(), (Lines{"Upgrade Firmware..."}));
        // The line follows the question, whose line the answer's Enter ends on a real terminal.
        const std::string err = bench.Terminal.Err;
        EXPECT_EQ(err.substr(err.find("[y/N] ") + 6), std::string("flashupgrade: /dev/sr0 now answers as ") + c.Answer +
                                               ", not as the listed (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version "
                                               "1.5: nothing was written\n");
        EXPECT_EQ(CliBench::FirmwareCommands(drive), CliBench::ComparingReads());
        EXPECT_EQ(std::vector<uint8_t>(drive.Flash(), drive.Flash() + drive.FlashSize()), old);
        EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
    }
}

}  // namespace
