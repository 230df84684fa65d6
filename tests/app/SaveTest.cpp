// Save (the hidden dump), pressed through the dialog's command routing.
#include <gtest/gtest.h>

#include "tests/support/UpgradeBench.h"

namespace {

using emulator::EmulatedDrive;
using Kind = EmulatedDrive::Kind;

class SaveTest : public ::testing::Test {
protected:
    UpgradeBench bench;
    BenchDrive* drive = nullptr;

    void Begin(uint32_t flashSize = 131072) {
        drive = &bench.AddDrive(flashSize);
        for (size_t i = 0; i < drive->Flash.size(); ++i) drive->Flash[i] = static_cast<uint8_t>(i * 7 + (i >> 14));
        drive->Drive.ResetStaging();
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Start();
        bench.Dialog->FirmwarePath = "C:\\dumps\\drive.bin";
    }

    std::vector<uint8_t>& File() { return bench.Files.Files["C:\\dumps\\drive.bin"]; }
};

TEST_F(SaveTest, DumpsAWholeLargerFlashExactly) {
    Begin(262144);
    bench.Press(ControlSave);
    EXPECT_EQ(bench.StatusHistory(), (std::vector<std::string>{"Save Firmware...", "Upgrade Firmware Successful!!"}));
    EXPECT_EQ(LogLetters(drive->Drive), std::string(16, 'D'));
    EXPECT_EQ(File(), drive->Flash);
    // Fifteen chunks leave the bar at 0, the sixteenth brings it to 100.
    std::vector<int> expected(1, 0);
    expected.insert(expected.end(), 15, 0);
    expected.push_back(100);
    EXPECT_EQ(bench.ProgressHistory(), expected);
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(bench.Buffers.Sizes, std::vector<size_t>{262144});
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(SaveTest, FlashNotAMultipleOfTheChunkEndsWithAShortChunk) {
    Begin(20 * 1024);
    bench.Press(ControlSave);
    EXPECT_EQ(bench.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(LoggedChunks(drive->Drive, 0x3C, 1), (std::vector<LoggedChunk>{{0, 0x4000}, {0x4000, 0x1000}}));
    EXPECT_EQ(File(), drive->Flash);
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(SaveTest, ExistingFileAnsweredNoIsLeftUntouched) {
    Begin();
    File() = {1, 2, 3};
    bench.Backend.MessageBoxAnswers.push_back(IdNo);
    bench.Press(ControlSave);

    ASSERT_EQ(bench.Backend.MessageBoxes().size(), 1u);
    const auto& box = bench.Backend.MessageBoxes()[0];
    EXPECT_EQ(box.Text, "File C:\\dumps\\drive.bin Exist, Overwrite ?");
    EXPECT_FALSE(box.HasCaption);
    EXPECT_EQ(box.Type, 0x04u);   // Yes and No, no icon
    EXPECT_EQ(bench.Status(), "File C:\\dumps\\drive.bin Exist, User cancel ...");
    EXPECT_EQ(File(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(LogLetters(drive->Drive), "");
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST(SaveOverwrite, OnlyAFileWithContentIsAskedAboutAndThenReplaced) {
    struct Case {
        const char* what;
        bool exists;
        size_t length;
        size_t questions;
    };
    // A box the test did not queue an answer for fails it: the new and the empty file get none.
    const Case cases[] = {
        {"new file", false, 0, 0},
        {"empty file", true, 0, 0},
        {"longer than the dump", true, 300000, 1},   // the rest must go
    };
    for (const Case& c : cases) {
        UpgradeBench bench;
        BenchDrive& drive = bench.AddDrive();
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Start();
        bench.Dialog->FirmwarePath = "C:\\dumps\\drive.bin";
        if (c.exists) bench.Files.Files["C:\\dumps\\drive.bin"].assign(c.length, 0xAB);
        if (c.questions != 0) bench.Backend.MessageBoxAnswers.push_back(6);   // Yes
        bench.Press(ControlSave);
        EXPECT_EQ(bench.Backend.MessageBoxes().size(), c.questions) << c.what;
        EXPECT_EQ(bench.Status(), "Upgrade Firmware Successful!!") << c.what;
        EXPECT_EQ(bench.Files.Files["C:\\dumps\\drive.bin"], drive.Flash) << c.what;
        EXPECT_EQ(bench.BrokenInvariants(), "") << c.what;
    }
}

TEST_F(SaveTest, FailedDumpAfterYesKeepsTheOldContent) {
    Begin();
    File() = {9, 9, 9, 9};
    bench.Backend.MessageBoxAnswers.push_back(6);
    drive->Drive.FailCommand(Kind::Dump, 0x10000, EmulatedDrive::Forever);
    bench.Press(ControlSave);
    EXPECT_EQ(bench.Status(), "Error Happen in ID 1 OFFSET 0x0000");
    EXPECT_EQ(File(), (std::vector<uint8_t>{9, 9, 9, 9}));
    EXPECT_EQ(bench.Files.Truncates, 0);
    EXPECT_EQ(bench.Files.Writes, 0);
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(SaveTest, ChunkFailingInABufferAboveNineNamesItInHex) {
    // 704 KiB: buffer ids 0 to 10; the chunk at 0xAC000 is id 0xa, offset 0xC000.
    Begin(0xB0000);
    drive->Drive.FailCommand(Kind::Dump, 0xAC000, EmulatedDrive::Forever);
    bench.Press(ControlSave);
    EXPECT_EQ(bench.Status(), "Error Happen in ID a OFFSET 0xC000");
    EXPECT_EQ(LoggedChunks(drive->Drive, 0x3C, 1).back(), (LoggedChunk{0xAC000, 0x4000}));
    EXPECT_TRUE(File().empty());
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(SaveTest, EmptyPathCannotBeOpened) {
    Begin();
    bench.Dialog->FirmwarePath.clear();
    bench.Press(ControlSave);
    EXPECT_EQ(bench.Status(), "Cant open the file ");
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(bench.Transport.Opens(), 0);
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(SaveTest, NewFileStaysEmptyWhenTheDriveCannotBeOpened) {
    Begin();
    bench.Transport.OpenFails = true;
    bench.Press(ControlSave);
    EXPECT_EQ(bench.Status(), "Open Device (0 0)EMULATEDDVD-RW FLASH     Failed!!");
    ASSERT_EQ(bench.Files.Files.count("C:\\dumps\\drive.bin"), 1u);
    EXPECT_TRUE(File().empty());
    EXPECT_EQ(bench.Buffers.Obtained, 1);
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(SaveTest, FileFailuresAreReportedNeverAsSuccess) {
    struct Case {
        const char* what;
        void (*inject)(FakeFileApi&);
        bool existing;
        const char* status;
    };
    const Case cases[] = {
        {"open", [](FakeFileApi& f) { f.FailOpen = true; }, false, "Cant open the file C:\\dumps\\drive.bin"},
        {"write", [](FakeFileApi& f) { f.FailWrite = true; }, false, "Write File C:\\dumps\\drive.bin Failed!!"},
        {"disk full", [](FakeFileApi& f) { f.DiskRoom = 4096; }, false, "Write File C:\\dumps\\drive.bin Failed!!"},
        {"truncate", [](FakeFileApi& f) { f.FailTruncate = true; }, true, "Write File C:\\dumps\\drive.bin Failed!!"},
        {"length unreadable", [](FakeFileApi& f) { f.FailLength = true; }, false, "Upgrade Firmware Successful!!"},
    };
    for (const Case& c : cases) {
        UpgradeBench local;
        BenchDrive& target = local.AddDrive();
        local.FillSlot(UpgradeBench::PatternImage());
        local.Start();
        local.Dialog->FirmwarePath = "C:\\dumps\\drive.bin";
        if (c.existing) local.Files.Files["C:\\dumps\\drive.bin"] = {1};
        local.Backend.MessageBoxAnswers.push_back(6);
        c.inject(local.Files);
        local.Press(ControlSave);
        EXPECT_EQ(local.Status(), c.status) << c.what;
        EXPECT_EQ(local.Buttons(), "BUE") << c.what;
        EXPECT_EQ(local.BrokenInvariants(), "") << c.what;
        if (std::string(c.what) == "length unreadable") {
            // A length it cannot read is treated as content: the user is asked first.
            EXPECT_EQ(local.Backend.MessageBoxes().size(), 1u);
            EXPECT_EQ(local.Files.Files["C:\\dumps\\drive.bin"], target.Flash);
        }
    }
}

TEST_F(SaveTest, NoBufferMeansNoDriveAccess) {
    Begin();
    bench.Buffers.FailRequestNumber = 1;
    bench.Press(ControlSave);
    EXPECT_EQ(bench.Status(), "Memory (Write) Initialization Failed!!");
    EXPECT_EQ(bench.Transport.Opens(), 0);
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

}  // namespace
