// flashupgrade on several drives at once: --all and --drive N,M for upgrade, save and verify.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cli/SeveralDrives.h"
#include "tests/cli/CliBench.h"

namespace {

using emulator::EmulatedDrive;
using Lines = std::vector<std::string>;
using Trail = std::vector<std::string>;

const char Incomplete[] = "incomplete: Do not power off or restart the computer or the drive: its firmware may be "
                          "incomplete. Run the same upgrade again: flashupgrade upgrade --device ";
const char RestartLine[] =
    "The new firmware takes effect when the drives restart: power-cycle them or restart the computer.";

// What the drive was sent, in order: each command as opcode and mode, with the flash offset of
// the chunk commands ("3B07@14000").
Trail TrailOf(const EmulatedDrive& drive) {
    Trail trail;
    const std::vector<unsigned> codes = LinuxMachineBench::Commands(drive);
    for (uint32_t i = 0; i < drive.LogSize(); ++i) {
        const EmulatedDrive::LogEntry* entry = drive.LogAt(i);
        char text[32];
        std::snprintf(text, sizeof text, "%04X@%X", codes[i], entry->bufferId * 0x10000u + entry->bufferOffset);
        trail.push_back(text);
    }
    return trail;
}

size_t WriteCount(const EmulatedDrive& drive) {
    size_t writes = 0;
    for (unsigned code : LinuxMachineBench::Commands(drive)) writes += (code >> 8) == 0x3B ? 1 : 0;
    return writes;
}

bool HoldsImage(const CliBench& bench, const EmulatedDrive& drive) {
    return std::memcmp(drive.Flash(), bench.Image().data(), CliBench::ImageSize) == 0;
}

// How one drive of a machine is made to misbehave: on the drive itself, or through the machine
// with the drive's generic node.
using Trouble = std::function<void(CliBench& bench, EmulatedDrive& drive, unsigned target)>;

void ChunkSixFailsFiveTimes(CliBench&, EmulatedDrive& drive, unsigned) {
    drive.FailCommand(EmulatedDrive::Kind::WriteChunk, 0x14000, 5);
}

// The drive leaves the machine at its first write, which the kernel then refuses with ENODEV.
void VanishesAtTheFirstWrite(CliBench& bench, EmulatedDrive&, unsigned target) {
    const std::string node = "/dev/sg" + std::to_string(target);
    bench.Machine.Machine.BeforeCommandOn = [&bench, node, target](const std::string& to,
                                                                    const std::vector<uint8_t>& cdb) {
        if (to != node || cdb[0] != 0x3B) return 0;
        bench.Machine.Machine.DetachDevice({0, 0, target, 0});
        return ENODEV;
    };
}

EmulatedDrive& AddDrive(CliBench& bench, unsigned target) {
    const std::string n = std::to_string(target);
    return bench.Machine.AddDrive({0, 0, target, 0}, "sr" + n, "sg" + n);
}

// The commands the drive at TARGET gets when it is upgraded alone, with TROUBLE.
Trail AloneTrail(unsigned target, const Trouble& trouble) {
    CliBench bench;
    EmulatedDrive& drive = AddDrive(bench, target);
    if (trouble) trouble(bench, drive, target);
    bench.Run("upgrade --yes");
    return TrailOf(drive);
}

TEST(CliSeveral, EightDrivesAtOnceEachGetsExactlyItsOwnUpgradeAndTwoFailuresStopOnlyThemselves) {
    CliBench bench;
    std::vector<EmulatedDrive*> drives;
    for (unsigned target = 0; target < 8; ++target) drives.push_back(&AddDrive(bench, target));
    ChunkSixFailsFiveTimes(bench, *drives[2], 2);
    VanishesAtTheFirstWrite(bench, *drives[5], 5);

    EXPECT_EQ(bench.Run("upgrade --all --yes"), 3);

    const Trail good = AloneTrail(0, nullptr);
    for (unsigned target = 0; target < 8; ++target) {
        SCOPED_TRACE(target);
        if (target == 2) {
            EXPECT_EQ(TrailOf(*drives[target]), AloneTrail(2, ChunkSixFailsFiveTimes));
        } else if (target == 5) {
            EXPECT_EQ(TrailOf(*drives[target]), AloneTrail(5, VanishesAtTheFirstWrite));
        } else {
            EXPECT_EQ(TrailOf(*drives[target]), good);
            EXPECT_TRUE(HoldsImage(bench, *drives[target]));
        }
    }
    EXPECT_FALSE(HoldsImage(bench, *drives[2]));
    EXPECT_FALSE(HoldsImage(bench, *drives[5]));

    const Lines out = bench.OutLines();
    ASSERT_EQ(out.size(), 10u);
    for (unsigned target : {0u, 1u, 3u, 4u, 6u, 7u}) {
        EXPECT_EQ(out[target], "Drive " + std::to_string(target + 1) + " /dev/sr" + std::to_string(target) + ": upgraded");
    }
    EXPECT_EQ(out[2], std::string("Drive 3 /dev/sr2: ") + Incomplete + "/dev/sr2");
    EXPECT_EQ(out[5].compare(0, 30, "Drive 6 /dev/sr5: not written:"), 0) << out[5];
    EXPECT_EQ(out[8], "8 drives: 6 upgraded, 1 not written, 1 incomplete");
    // No word of a restart while a drive's firmware may be incomplete.
    EXPECT_EQ(out[9], "Do not power off or restart the computer or the drives: the firmware of the drives marked "
                      "incomplete may be incomplete. Run the same upgrade again for each of them.");
    // Why the two did not end well, on the standard error, each line named by its drive.
    for (const std::string& line : bench.ErrLines()) {
        EXPECT_TRUE(line.compare(0, 18, "Drive 3 /dev/sr2: ") == 0 || line.compare(0, 18, "Drive 6 /dev/sr5: ") == 0)
            << line;
    }
    EXPECT_EQ(bench.Buffers.Held(), 0u);
    EXPECT_EQ(bench.Buffers.BadReleases, 0);
    EXPECT_EQ(bench.Machine.Machine.OpenDescriptors(), 0);
}

TEST(CliSeveral, OneQuestionNamesEveryDriveAndTheImageAndNoMeansNothingIsWritten) {
    for (const char* answer : {"n", "y"}) {
        SCOPED_TRACE(answer);
        CliBench bench;
        EmulatedDrive& first = AddDrive(bench, 0);
        EmulatedDrive& second = AddDrive(bench, 1);
        EmulatedDrive& third = AddDrive(bench, 2);
        bench.Terminal.Input = true;
        bench.Terminal.Answers = {answer};
        const int status = bench.Run("upgrade --drive 3,1");
        ASSERT_EQ(bench.Terminal.Questions.size(), 1u);
        EXPECT_EQ(bench.Terminal.Questions[0],
                  "Write image version 1.51 to 2 drives at once:\n"
                  "  Drive 3 (0, 0, 2, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr2\n"
                  "  Drive 1 (0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5 /dev/sr0\n"
                  "without back-ups of their flash (--backup FOLDER keeps them)? [y/N] ");
        const bool yes = answer[0] == 'y';
        EXPECT_EQ(status, yes ? 0 : 1);
        EXPECT_EQ(HoldsImage(bench, first), yes);
        EXPECT_EQ(HoldsImage(bench, third), yes);
        EXPECT_FALSE(HoldsImage(bench, second));
        EXPECT_EQ(CliBench::FirmwareCommands(second), std::vector<unsigned>{});
        if (yes) {
            EXPECT_EQ(bench.OutLines(), (Lines{"Drive 3 /dev/sr2: upgraded", "Drive 1 /dev/sr0: upgraded",
                                              "2 drives: 2 upgraded", RestartLine}));
        } else {
            // Asked after each drive's flash was read and compared; no is no write at all.
            EXPECT_EQ(CliBench::FirmwareCommands(first), CliBench::ComparingReads());
            EXPECT_EQ(CliBench::WritesAndCommits(third), 0u);
            EXPECT_EQ(bench.OutLines(), (Lines{"Drive 3 /dev/sr2: not written: Upgrade cancelled: nothing was written",
                                              "Drive 1 /dev/sr0: not written: Upgrade cancelled: nothing was written",
                                              "2 drives: 2 not written"}));
        }
    }
}

TEST(CliSeveral, BackUpsGoToAFolderOrANumberedNameAndOneFileForSeveralIsRefused) {
    struct Case {
        const char* Arguments;
        const char* Folder;   // made before the run
        std::vector<std::string> Files;
    };
    const Case cases[] = {
        {"upgrade --all --yes --backup saved", "saved", {"saved/flash-1.bin", "saved/flash-2.bin"}},
        {"upgrade --all --yes --backup saved/", "saved/", {"saved/flash-1.bin", "saved/flash-2.bin"}},
        {"upgrade --all --yes --backup old-%n-%%.bin", "", {"old-1-%.bin", "old-2-%.bin"}},
        {"save drive%n.bin --all", "", {"drive1.bin", "drive2.bin"}},
        {"save dumps --drive 2,1", "dumps", {"dumps/flash-2.bin", "dumps/flash-1.bin"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments);
        CliBench bench;
        EmulatedDrive& first = AddDrive(bench, 0);
        EmulatedDrive& second = AddDrive(bench, 1);
        const std::vector<uint8_t> before[] = {std::vector<uint8_t>(first.Flash(), first.Flash() + 0x20000),
                                               std::vector<uint8_t>(second.Flash(), second.Flash() + 0x20000)};
        if (c.Folder[0] != '\0') bench.FileSystem.Unusual.push_back(c.Folder);
        EXPECT_EQ(bench.Run(c.Arguments), 0);
        for (const std::string& file : c.Files) {
            const size_t drive = file.find('2') != std::string::npos ? 1 : 0;
            EXPECT_EQ(bench.Files.Files[file], before[drive]) << file;
        }
    }
    for (const char* arguments : {"upgrade --all --yes --backup one.bin", "save one.bin --drive 1,2"}) {
        SCOPED_TRACE(arguments);
        CliBench bench;
        const EmulatedDrive& first = AddDrive(bench, 0);
        const EmulatedDrive& second = AddDrive(bench, 1);
        EXPECT_EQ(bench.Run(arguments), 2);
        EXPECT_EQ(bench.ErrLines(), Lines{"flashupgrade: one.bin names one file for 2 drives: give a folder, or a "
                                          "name holding %n for each drive's number"});
        EXPECT_EQ(bench.Files.Files.size(), 0u);
        EXPECT_EQ(CliBench::FirmwareCommands(first).size() + CliBench::FirmwareCommands(second).size(), 0u);
    }
}

TEST(CliSeveral, VerifyAndSaveGiveEachDriveItsResultAndTheWorstStatus) {
    // A drive that holds the image, one that holds other flash, one whose second chunk fails.
    const auto machine = [](CliBench& bench) {
        std::memcpy(AddDrive(bench, 0).Flash(), bench.Image().data(), CliBench::ImageSize);
        AddDrive(bench, 1);
        AddDrive(bench, 2).FailCommand(EmulatedDrive::Kind::Dump, 0x4000, 5);
    };
    const std::string failure =
        "/dev/sg2: the drive answered CHECK CONDITION, sense 04/44/00 HARDWARE ERROR, INTERNAL TARGET FAILURE";
    CliBench verify;
    machine(verify);
    EXPECT_EQ(verify.Run("verify --all"), 1);
    EXPECT_EQ(verify.OutLines(),
              (Lines{"Drive 1 /dev/sr0: equals the image",
                     "Drive 2 /dev/sr1: differs from the image: flash differs from image version 1.51 in 8 of 8 chunks",
                     "Drive 3 /dev/sr2: not read: " + failure,
                     "3 drives: 1 equals the image, 1 differs from the image, 1 not read"}));

    CliBench save;
    machine(save);
    EXPECT_EQ(save.Run("save dump-%n --all"), 1);
    EXPECT_EQ(save.OutLines(), (Lines{"Drive 1 /dev/sr0: saved: dump-1", "Drive 2 /dev/sr1: saved: dump-2",
                                      "Drive 3 /dev/sr2: not saved: " + failure, "3 drives: 2 saved, 1 not saved"}));
    EXPECT_EQ(save.Files.Files.count("dump-3"), 0u);
}

TEST(CliSeveral, TheJsonDocumentHoldsEveryDrivesResult) {
    CliBench bench;
    AddDrive(bench, 0);
    EmulatedDrive& failing = AddDrive(bench, 1);
    failing.FailCommand(EmulatedDrive::Kind::Dump, 0x0, 5);
    EXPECT_EQ(bench.Run("verify --all --json"), 1);
    const Lines out = bench.OutLines();
    ASSERT_EQ(out.size(), 1u);
    const std::string& json = out[0];
    EXPECT_EQ(json.compare(0, 50, "{\"command\":\"verify\",\"image\":\"1.51\",\"status\":1,\"dri"), 0) << json;
    EXPECT_NE(json.find("\"number\":1,\"host\":0,\"channel\":0,\"target\":0,\"lun\":0"), std::string::npos);
    EXPECT_NE(json.find("\"node\":\"/dev/sr0\",\"status\":1,\"result\":\"differs from the image\",\"detail\":\"flash "
                        "differs from image version 1.51 in 8 of 8 chunks\"}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"node\":\"/dev/sr1\",\"status\":1,\"result\":\"not read\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"summary\":\"2 drives: 1 differs from the image, 1 not read\"}"), std::string::npos);
}

TEST(CliSeveral, ASignalDuringTheBackUpsStopsEveryDriveBeforeItsFirstWrite) {
    CliBench bench;
    EmulatedDrive& first = AddDrive(bench, 0);
    EmulatedDrive& second = AddDrive(bench, 1);
    bench.FileSystem.Unusual.push_back("saved");
    bench.Machine.Machine.BeforeCommandOn = [&bench](const std::string& node, const std::vector<uint8_t>& cdb) {
        if (node != "/dev/sg1" || cdb[0] != 0x3C || cdb[1] != 0x01 || cdb[9] != 0x01) return 0;
        return bench.Signals.Deliver(SIGINT) ? EINTR : 0;
    };
    EXPECT_EQ(bench.Run("upgrade --all --yes --backup saved"), 130);
    EXPECT_EQ(WriteCount(first) + WriteCount(second), 0u);
    EXPECT_FALSE(bench.Signals.Holding);
    EXPECT_EQ(bench.ErrLines().back(), "flashupgrade: stopped by SIGINT: nothing was written to the drives");
    EXPECT_EQ(bench.Files.Files.count("saved/flash-2.bin"), 0u);
}

TEST(CliSeveral, ASignalOnceTheWritesStartedIsHeldForEveryDriveAndToldOnce) {
    CliBench bench;
    EmulatedDrive& first = AddDrive(bench, 0);
    EmulatedDrive& second = AddDrive(bench, 1);
    int writes = 0;
    bench.Machine.Machine.BeforeCommandOn = [&](const std::string&, const std::vector<uint8_t>& cdb) {
        if (cdb[0] == 0x3B && ++writes == 3) bench.Signals.Deliver(SIGTERM);
        return 0;
    };
    EXPECT_EQ(bench.Run("upgrade --all --yes"), 0);
    EXPECT_TRUE(bench.Signals.Holding);
    EXPECT_TRUE(HoldsImage(bench, first));
    EXPECT_TRUE(HoldsImage(bench, second));
    EXPECT_EQ(bench.ErrLines(),
              Lines{"flashupgrade: SIGTERM received while image version 1.51 is written to 2 drives: stopping now could "
                    "leave them without working firmware; the program stops as soon as the writes are done"});
}

TEST(CliSeveral, OnATerminalEachDriveHasALineRedrawnInPlace) {
    CliBench bench;
    AddDrive(bench, 0);
    AddDrive(bench, 1);
    bench.Terminal.Error = true;
    EXPECT_EQ(bench.Run("verify --all"), 1);
    const std::string& err = bench.Terminal.Err;
    // The first drawing moves nothing; every later one backs up over both lines, each line
    // cleared before it is written again. The last shows how each drive ended.
    const std::string first = "\r\033[KDrive 1 /dev/sr0";
    EXPECT_EQ(err.compare(0, first.size(), first), 0) << err;
    const std::string last = "\033[2A\r\033[KDrive 1 /dev/sr0 [################################] 8/8 chunks failed\n"
                             "\r\033[KDrive 2 /dev/sr1 [################################] 8/8 chunks failed\n"
                             "Drive 1 /dev/sr0: flash differs";
    EXPECT_NE(err.find(last), std::string::npos) << err;
}

TEST(CliSeveral, AllLeavesOutADriveWhoseFlashCannotHoldTheImageAndNamesIt) {
    CliBench bench;
    bench.Machine.AddDrive({0, 0, 0, 0}, "sr0", "sg0", 0x40000);
    EmulatedDrive& fits = AddDrive(bench, 1);
    EXPECT_EQ(bench.Run("upgrade --all --yes"), 0);
    EXPECT_TRUE(HoldsImage(bench, fits));
    EXPECT_EQ(bench.ErrLines(), Lines{"flashupgrade: drive 1 /dev/sr0 left out: its flash holds 262144 bytes, the "
                                      "image 131072"});
    EXPECT_EQ(bench.OutLines()[0], "Drive 2 /dev/sr1: upgraded");
}

TEST(CliSeveral, ADryRunAsksNothingAndWritesNothing) {
    CliBench bench;
    const EmulatedDrive& first = AddDrive(bench, 0);
    const EmulatedDrive& second = AddDrive(bench, 1);
    EXPECT_EQ(bench.Run("upgrade --all --dry-run"), 0);
    EXPECT_EQ(bench.OutLines(), (Lines{"Drive 1 /dev/sr0: would be upgraded", "Drive 2 /dev/sr1: would be upgraded",
                                       "2 drives: 2 would be upgraded"}));
    // Only the reads a real run makes before its writes.
    EXPECT_EQ(CliBench::FirmwareCommands(first), CliBench::ComparingReads());
    EXPECT_EQ(CliBench::FirmwareCommands(second), CliBench::ComparingReads());
    EXPECT_FALSE(bench.Signals.Holding);
}

TEST(CliSeveral, VerboseNamesTheDriveOfEveryCommandAndJsonAloneGivesOneDrivesDocument) {
    CliBench bench;
    AddDrive(bench, 0);
    AddDrive(bench, 1);
    EXPECT_EQ(bench.Run("verify --drive 2,1 -v"), 1);
    size_t first = 0, second = 0;
    for (const std::string& line : bench.ErrLines()) {
        if (line.compare(0, 32, "flashupgrade: Drive 1 /dev/sr0: ") == 0) ++first;
        if (line.compare(0, 32, "flashupgrade: Drive 2 /dev/sr1: ") == 0) ++second;
    }
    // INQUIRY and the identity query once the drive is held, then the eight chunks.
    EXPECT_EQ(first, 10u);
    EXPECT_EQ(second, 10u);
    CliBench twice;
    AddDrive(twice, 0);
    AddDrive(twice, 1);
    EXPECT_EQ(twice.Run("verify --all -vv"), 1);
    size_t data = 0;
    const std::string dataIn = "flashupgrade: Drive 2 /dev/sr1:   data in: ";
    for (const std::string& line : twice.ErrLines()) {
        if (line.compare(0, dataIn.size(), dataIn) == 0) ++data;
    }
    EXPECT_EQ(data, 10u);

    CliBench alone;
    AddDrive(alone, 0);
    EXPECT_EQ(alone.Run("verify --json"), 1);
    const std::string json = alone.OutLines().at(0);
    EXPECT_NE(json.find("\"drives\":[{\"number\":1,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"result\":\"differs from the image\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"summary\":\"1 drive: 1 differs from the image\"}"), std::string::npos) << json;
}

TEST(CliSeveral, TheStatusOfTheRunIsTheWorstOfTheDrives) {
    struct Case {
        std::vector<int> Statuses;
        int Status;
    };
    const Case cases[] = {
        {{0, 0}, 0}, {{0, 1}, 1}, {{1, 0, 3}, 3}, {{3, 2}, 3},
        {{2, 2}, 2},   // no drive got as far as its operation
        {{2, 0}, 1}, {{2, 1}, 1}, {{0}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(SeveralDrives::Worst(c.Statuses), c.Status) << ::testing::PrintToString(c.Statuses);
}

TEST(CliSeveral, ANameHoldsTheDrivesNumberWhereItSaysPercentN) {
    struct Case {
        const char* Pattern;
        bool Folder;
        bool Numbered;
        const char* File;   // for drive 12
    };
    const Case cases[] = {
        {"flash-%n.bin", false, true, "flash-12.bin"}, {"%n", false, true, "12"},
        {"a%%n", false, false, "a%n"},                  {"a%%%n", false, true, "a%12"},
        {"100%", false, false, "100%"},                 {"dir", true, false, "dir/flash-12.bin"},
        {"dir/", true, false, "dir/flash-12.bin"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SeveralDrives::HasNumber(c.Pattern), c.Numbered) << c.Pattern;
        EXPECT_EQ(SeveralDrives::FileFor(c.Pattern, 12, c.Folder), c.File) << c.Pattern;
    }
}

}  // namespace
