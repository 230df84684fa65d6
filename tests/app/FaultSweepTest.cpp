// Every chunk of an Upgrade and of a Save, every step failing on 1 to 5 attempts in a row: the
// outcome and the invariants that hold whatever happens.
#include <gtest/gtest.h>

#include "tests/support/UpgradeBench.h"

namespace {

using emulator::EmulatedDrive;
using Kind = EmulatedDrive::Kind;

enum class Step { Write, ReadBack, Compare, Dump };

const char* Name(Step step) {
    switch (step) {
    case Step::Write: return "write";
    case Step::ReadBack: return "read-back";
    case Step::Compare: return "compare";
    case Step::Dump: return "dump";
    }
    return "?";
}

// The status line after five failed attempts on chunk i: its buffer id in lower-case hex, its
// offset within that buffer in four upper-case digits.
const char* const ChunkErrors[8] = {
    "Error Happen in ID 0 OFFSET 0x0000", "Error Happen in ID 0 OFFSET 0x4000", "Error Happen in ID 0 OFFSET 0x8000",
    "Error Happen in ID 0 OFFSET 0xC000", "Error Happen in ID 1 OFFSET 0x0000", "Error Happen in ID 1 OFFSET 0x4000",
    "Error Happen in ID 1 OFFSET 0x8000", "Error Happen in ID 1 OFFSET 0xC000",
};

TEST(FaultSweep, UpgradeSurvivesFourFailuresAndStopsCleanlyAtFive) {
    for (Step step : {Step::Write, Step::ReadBack, Step::Compare}) {
        for (uint32_t chunk = 0; chunk < 8; ++chunk) {
            for (uint32_t attempts = 1; attempts <= 5; ++attempts) {
                const uint32_t offset = chunk * 0x4000;
                SCOPED_TRACE(std::string(Name(step)) + " of chunk " + std::to_string(chunk) + " failing " +
                             std::to_string(attempts) + " times");
                UpgradeBench bench;
                BenchDrive& drive = bench.AddDrive();
                bench.FillSlot(UpgradeBench::PatternImage(chunk + 1));
                bench.Start();
                switch (step) {
                case Step::Write: drive.Drive.FailCommand(Kind::WriteChunk, offset + 100, attempts); break;
                case Step::ReadBack: drive.Drive.FailCommand(Kind::ReadBack, offset, attempts); break;
                case Step::Compare: drive.Drive.CorruptReadBack(offset + 0x3FFF, attempts); break;
                default: break;
                }
                bench.Press(ControlUpgrade);

                const std::vector<LoggedChunk> writes = LoggedChunks(drive.Drive, 0x3B, 7);
                if (attempts < 5) {
                    EXPECT_EQ(bench.Status(), "Upgrade Firmware Successful!!");
                    EXPECT_EQ(bench.Buttons(), "-UE");
                    EXPECT_EQ(drive.Drive.CommitCount(), 1u);
                    EXPECT_EQ(drive.Flash, bench.Image);
                    EXPECT_EQ(writes.size(), 8u + (step == Step::Write || step == Step::ReadBack || step == Step::Compare
                                                       ? attempts
                                                       : 0));
                } else {
                    EXPECT_EQ(bench.Status(), ChunkErrors[chunk]);
                    EXPECT_EQ(bench.Buttons(), "BUE");
                    EXPECT_EQ(drive.Drive.CommitCount(), 0u);
                    EXPECT_EQ(bench.Dialog->UpgradeSucceeded, 0);
                    // Chunks after the failing one are never written.
                    for (const LoggedChunk& w : writes) EXPECT_LE(w.FlashOffset, offset);
                    EXPECT_EQ(writes.size(), chunk + 5u);
                }
                EXPECT_EQ(bench.BrokenInvariants(), "");
            }
        }
    }
}

TEST(FaultSweep, SaveSurvivesFourFailuresAndStopsCleanlyAtFive) {
    for (uint32_t chunk = 0; chunk < 8; ++chunk) {
        for (uint32_t attempts = 1; attempts <= 5; ++attempts) {
            const uint32_t offset = chunk * 0x4000;
            SCOPED_TRACE("dump of chunk " + std::to_string(chunk) + " failing " + std::to_string(attempts) + " times");
            UpgradeBench bench;
            BenchDrive& drive = bench.AddDrive();
            for (size_t i = 0; i < drive.Flash.size(); ++i) drive.Flash[i] = static_cast<uint8_t>(i ^ (i >> 8));
            drive.Drive.ResetStaging();
            bench.FillSlot(UpgradeBench::PatternImage());
            bench.Start();
            bench.Dialog->FirmwarePath = "out.bin";
            bench.Files.Files["out.bin"] = {0x42};
            bench.Backend.MessageBoxAnswers.push_back(6);
            drive.Drive.FailCommand(Kind::Dump, offset, attempts);
            bench.Press(ControlSave);

            const std::vector<LoggedChunk> dumps = LoggedChunks(drive.Drive, 0x3C, 1);
            if (attempts < 5) {
                EXPECT_EQ(bench.Status(), "Upgrade Firmware Successful!!");
                EXPECT_EQ(bench.Files.Files["out.bin"], drive.Flash);
                EXPECT_EQ(dumps.size(), 8u + attempts);
            } else {
                EXPECT_EQ(bench.Status(), ChunkErrors[chunk]);
                EXPECT_EQ(bench.Files.Files["out.bin"], std::vector<uint8_t>{0x42});
                for (const LoggedChunk& d : dumps) EXPECT_LE(d.FlashOffset, offset);
            }
            EXPECT_EQ(bench.Buttons(), "BUE");
            EXPECT_EQ(drive.Drive.CommitCount(), 0u);
            EXPECT_EQ(bench.BrokenInvariants(), "");
        }
    }
}

}  // namespace
