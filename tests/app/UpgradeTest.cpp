// Upgrade, pressed through the dialog's command routing, against emulated drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "tests/support/UpgradeBench.h"

namespace {

using emulator::EmulatedDrive;
using Kind = EmulatedDrive::Kind;

const std::vector<LoggedChunk> EightChunks = {{0x00000, 0x4000}, {0x04000, 0x4000}, {0x08000, 0x4000},
                                              {0x0C000, 0x4000}, {0x10000, 0x4000}, {0x14000, 0x4000},
                                              {0x18000, 0x4000}, {0x1C000, 0x4000}};

class UpgradeTest : public ::testing::Test {
protected:
    UpgradeBench bench;
    BenchDrive* drive = nullptr;

    void SetUp() override {
        drive = &bench.AddDrive();
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Start();
    }
};

TEST_F(UpgradeTest, CleanUpgradeWritesVerifiesAndCommitsEveryChunkInOrder) {
    bench.Press(ControlUpgrade);

    EXPECT_EQ(LogLetters(drive->Drive), "WRWRWRWRWRWRWRWRC");
    EXPECT_EQ(LoggedChunks(drive->Drive, 0x3B, 7), EightChunks);
    EXPECT_EQ(LoggedChunks(drive->Drive, 0x3C, 2), EightChunks);
    EXPECT_EQ(drive->Drive.CommitCount(), 1u);
    EXPECT_EQ(drive->Flash, bench.Image);

    // The first 0 is the dialog's start value; then seven chunks at 0, 75 after the eighth, 100 after
    // the commit and its pause.
    EXPECT_EQ(bench.ProgressHistory(), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 75, 100}));
    EXPECT_EQ(bench.Sleep.Pauses, std::vector<unsigned>{200});
    EXPECT_EQ(bench.StatusHistory(),
              (std::vector<std::string>{"Upgrade Firmware...", "Upgrade Firmware Successful!!"}));
    EXPECT_EQ(bench.Dialog->UpgradeSucceeded, 1);
    EXPECT_EQ(bench.Dialog->SelectedDevice, bench.Dialog->DeviceList.At(0));
    EXPECT_EQ(bench.Buttons(), "-UE");
    EXPECT_EQ(bench.Buffers.Obtained, 2);
    EXPECT_EQ(bench.Buffers.Sizes, (std::vector<size_t>{131072, 131072}));
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(UpgradeTest, ChunkFailingFourTimesIsRetriedAndTheNextStartsAfresh) {
    drive->Drive.FailCommand(Kind::WriteChunk, 0x4000, 4);
    // The next chunk may fail four times too: its count starts at 0 again.
    drive->Drive.FailCommand(Kind::ReadBack, 0x8000, 4);
    bench.Press(ControlUpgrade);

    EXPECT_EQ(bench.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(LogLetters(drive->Drive), "WR" "WWWWWR" "WRWRWRWRWR" "WRWRWRWRWRC");
    EXPECT_EQ(drive->Flash, bench.Image);
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(UpgradeTest, SixthChunkFailingFiveTimesStopsBeforeTheCommit) {
    drive->Drive.FailCommand(Kind::WriteChunk, 0x14000, 5);
    bench.Press(ControlUpgrade);

    EXPECT_EQ(bench.Status(), "Error Happen in ID 1 OFFSET 0x4000");
    EXPECT_EQ(drive->Drive.CommitCount(), 0u);
    EXPECT_EQ(LogLetters(drive->Drive), "WRWRWRWRWRWWWWW");
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(bench.Dialog->UpgradeSucceeded, 0);
    EXPECT_TRUE(bench.Sleep.Pauses.empty());
    // The flash keeps its old content: nothing was committed.
    EXPECT_EQ(drive->Flash, std::vector<uint8_t>(131072, 0xFF));
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(UpgradeTest, ReadBackThatDiffersCountsAsAFailedAttempt) {
    drive->Drive.CorruptReadBack(0x1C000 + 77, 1);
    bench.Press(ControlUpgrade);
    EXPECT_EQ(bench.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(LogLetters(drive->Drive), "WRWRWRWRWRWRWRWRWRC");

    UpgradeBench again;
    BenchDrive& other = again.AddDrive();
    again.FillSlot(UpgradeBench::PatternImage());
    again.Start();
    other.Drive.CorruptReadBack(0x8000, 5);
    again.Press(ControlUpgrade);
    EXPECT_EQ(again.Status(), "Error Happen in ID 0 OFFSET 0x8000");
    EXPECT_EQ(other.Drive.CommitCount(), 0u);
    EXPECT_EQ(again.BrokenInvariants(), "");
}

TEST_F(UpgradeTest, FailedCommitStillCountsAsSuccess) {
    drive->Drive.FailCommand(Kind::Commit, EmulatedDrive::AnyOffset, 1);
    bench.Press(ControlUpgrade);
    EXPECT_EQ(bench.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(bench.Dialog->UpgradeSucceeded, 1);
    EXPECT_EQ(bench.ProgressHistory().back(), 100);
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST_F(UpgradeTest, ChecksumMismatchSendsNoChunkAndKeepsBrowseDisabled) {
    UpgradeBench mismatch;
    BenchDrive& target = mismatch.AddDrive();
    // Ten 0xFF bytes and one 0xD8 sum to 0x0ACE; the stored text is lower case.
    std::vector<uint8_t> image(131072, 0);
    std::fill(image.begin(), image.begin() + 10, 0xFF);
    image[131071] = 0xD8;
    mismatch.FillSlot(image, "0fe0");
    mismatch.Start();
    mismatch.Press(ControlUpgrade);

    EXPECT_EQ(mismatch.Status(), "Check sum not match!! (0ACE / 0FE0)");
    EXPECT_EQ(LogLetters(target.Drive), "");
    EXPECT_EQ(mismatch.Transport.SuccessfulOpens(), 1);
    EXPECT_EQ(mismatch.Buttons(), "-UE");
    EXPECT_EQ(mismatch.Dialog->UpgradeSucceeded, 0);
    EXPECT_EQ(mismatch.BrokenInvariants(), "");
}

TEST_F(UpgradeTest, AllFfImageWithChecksumZeroPasses) {
    UpgradeBench ff;
    BenchDrive& target = ff.AddDrive();
    ff.FillSlot(std::vector<uint8_t>(131072, 0xFF), "0000");
    target.Flash.assign(131072, 0x00);
    target.Drive.ResetStaging();
    ff.Start();
    ff.Press(ControlUpgrade);
    EXPECT_EQ(ff.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(target.Flash, std::vector<uint8_t>(131072, 0xFF));
}

TEST_F(UpgradeTest, SecondUpgradeRunsInFullAndAFailureKeepsTheSuccessFlag) {
    bench.Press(ControlUpgrade);
    ASSERT_EQ(bench.Dialog->UpgradeSucceeded, 1);
    drive->Drive.ClearLog();

    bench.Press(ControlUpgrade);
    EXPECT_EQ(LogLetters(drive->Drive), "WRWRWRWRWRWRWRWRC");
    // The bar shows the previous 100 until the first chunk of the new run drops it to 0.
    const std::vector<int>& history = bench.ProgressHistory();
    ASSERT_EQ(history.size(), 19u);
    EXPECT_EQ(std::vector<int>(history.end() - 10, history.end()),
              (std::vector<int>{100, 0, 0, 0, 0, 0, 0, 0, 75, 100}));

    drive->Drive.FailCommand(Kind::WriteChunk, 0, EmulatedDrive::Forever);
    bench.Press(ControlUpgrade);
    EXPECT_EQ(bench.Status(), "Error Happen in ID 0 OFFSET 0x0000");
    EXPECT_EQ(bench.Dialog->UpgradeSucceeded, 1);
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST(UpgradeRefusals, FlashOtherThan128KiBIsOpenedClosedAndLeftAlone) {
    UpgradeBench bench;
    BenchDrive& drive = bench.AddDrive(262144);
    bench.FillSlot(UpgradeBench::PatternImage());
    bench.Start();
    bench.Press(ControlUpgrade);
    EXPECT_EQ(bench.Status(), "Upgrade Firmware...");
    EXPECT_EQ(bench.Buttons(), "BUE");
    EXPECT_EQ(LogLetters(drive.Drive), "");
    EXPECT_EQ(bench.Transport.SuccessfulOpens(), 1);
    EXPECT_EQ(bench.Buffers.Requests, 0);
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST(UpgradeRefusals, EachEarlyFailureShowsItsTextAndGivesTheButtonsBack) {
    struct Case {
        const char* what;
        bool openFails;
        int failBufferRequest;
        const char* status;
        int buffersRequested;
    };
    const Case cases[] = {
        {"open fails", true, 0, "Open Device (0 0)EMULATEDDVD-RW FLASH     Failed!!", 0},
        {"no image buffer", false, 1, "Memory (Write) Initialization Failed!!", 1},
        {"no read-back buffer", false, 2, "Memory (Read) Initialization Failed!!", 2},
    };
    for (const Case& c : cases) {
        UpgradeBench bench;
        BenchDrive& drive = bench.AddDrive();
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Start();
        bench.Transport.OpenFails = c.openFails;
        bench.Buffers.FailRequestNumber = c.failBufferRequest;
        bench.Press(ControlUpgrade);
        EXPECT_EQ(bench.Status(), c.status) << c.what;
        EXPECT_EQ(bench.Buttons(), "BUE") << c.what;
        EXPECT_EQ(LogLetters(drive.Drive), "") << c.what;
        EXPECT_EQ(bench.Buffers.Requests, c.buffersRequested) << c.what;
        EXPECT_EQ(bench.BrokenInvariants(), "") << c.what;
        // The failed open still made the record current.
        EXPECT_EQ(std::memcmp(&bench.Transport.CurrentDevice, bench.Dialog->DeviceList.At(0), sizeof(DeviceRecord)), 0)
            << c.what;
    }
}

TEST(UpgradeRefusals, FailedOpenNamesTheRecordsPathAndTarget) {
    // Four different numbers, so that a port or unit shown in place of path or target, or the two
    // swapped, reads differently.
    DeviceRecord record;
    ClearDeviceRecord(record);
    record.PortNumber = 3;
    record.PathId = 1;
    record.TargetId = 4;
    record.Lun = 2;
    record.FlashSize = 131072;
    std::memcpy(record.Vendor, "VENDOR  ", 8);
    std::memcpy(record.Product, "PRODUCT 16 BYTES", 16);
    for (int command : {ControlUpgrade, ControlSave}) {
        UpgradeBench bench;
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Dialog = std::make_unique<UpgradeDialog>(
            bench.Backend, FirmwareOperations::Platform{bench.Files, bench.Sleep, bench.Buffers, bench.Slot.data()});
        bench.Dialog->DeviceList.Append(record);
        bench.Backend.Open(*bench.Dialog);
        bench.Dialog->FirmwarePath = "dump.bin";
        bench.Transport.OpenFails = true;
        bench.Press(command);
        EXPECT_EQ(bench.Status(), "Open Device (1 4)VENDOR  PRODUCT 16 BYTES Failed!!") << command;
        EXPECT_EQ(bench.Buttons(), "BUE") << command;
        EXPECT_EQ(bench.BrokenInvariants(), "") << command;
    }
}

TEST(UpgradeRefusals, UnfilledSlotIsRefusedBeforeTheDriveIsOpened) {
    UpgradeBench bench;
    BenchDrive& drive = bench.AddDrive();
    bench.Start();   // the slot keeps its placeholder
    EXPECT_EQ(bench.Status(), "Need Combine firmware first !!");
    EXPECT_FALSE(bench.Enabled(ControlUpgrade));

    // Save enables Upgrade again; pressing it must still not write the placeholder.
    bench.Dialog->FirmwarePath = "dump.bin";
    bench.Press(ControlSave);
    ASSERT_TRUE(bench.Enabled(ControlUpgrade));
    drive.Drive.ClearLog();
    const int opensBefore = bench.Transport.Opens();
    bench.Press(ControlUpgrade);
    EXPECT_EQ(bench.Status(), "Need Combine firmware first !!");
    EXPECT_EQ(bench.Buttons(), "B-E");
    EXPECT_EQ(bench.Transport.Opens(), opensBefore);
    EXPECT_EQ(LogLetters(drive.Drive), "");
    EXPECT_EQ(bench.BrokenInvariants(), "");
}

TEST(UpgradeRefusals, NoSelectedEntryTouchesNoDrive) {
    for (int selection : {-1, 2, 7}) {
        UpgradeBench bench;
        BenchDrive& first = bench.AddDrive();
        BenchDrive& second = bench.AddDrive();
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Start();
        bench.Backend.ControlById(ControlDeviceCombo).Selection = selection;
        for (int command : {ControlUpgrade, ControlSave}) {
            bench.Dialog->FirmwarePath = "dump.bin";
            bench.Press(command);
            EXPECT_EQ(bench.Status(), "No Device Selected!!") << selection;
            EXPECT_EQ(bench.Buttons(), "BUE") << selection;
        }
        EXPECT_EQ(bench.Transport.Opens(), 0);
        EXPECT_EQ(LogLetters(first.Drive) + LogLetters(second.Drive), "");
        EXPECT_EQ(bench.Files.Opens, 0);
        EXPECT_EQ(bench.Dialog->SelectedDevice, nullptr);
    }
}

TEST(UpgradeSelection, EntryIUpgradesRecordI) {
    UpgradeBench bench;
    BenchDrive& first = bench.AddDrive(131072, 1, 5);
    BenchDrive& second = bench.AddDrive(131072, 1, 10);
    bench.FillSlot(UpgradeBench::PatternImage());
    bench.Start();
    ASSERT_EQ(bench.Dialog->DeviceList.Count(), 2u);
    bench.Backend.SetComboSelection(ControlDeviceCombo, 1);
    bench.Press(ControlUpgrade);
    EXPECT_EQ(bench.Dialog->SelectedDevice, bench.Dialog->DeviceList.At(1));
    EXPECT_EQ(LogLetters(first.Drive), "");
    EXPECT_EQ(second.Flash, bench.Image);
    EXPECT_EQ(bench.Transport.CurrentDevice.TargetId, 1);
}

}  // namespace
