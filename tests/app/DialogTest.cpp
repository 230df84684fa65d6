// The upgrade dialog on the headless backend: its modal run and routing, what it shows when it
// starts, the file choice and the way out.
#include <gtest/gtest.h>

#include "tests/support/UpgradeBench.h"

namespace {

TEST(Dialog, ModalRunRoutesCommandsAndEndsThroughTheOkPath) {
    for (int leave : {IdOk, IdCancel, ControlExit}) {
        UpgradeBench bench;
        BenchDrive& drive = bench.AddDrive();
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Start();
        bench.Backend.QueueCommand(ControlUpgrade);
        bench.Backend.QueueAction([](CDialog& dialog) {
            // Typed into the (hidden) path field: the OK path's data exchange takes it.
            dialog.Backend().SetControlText(ControlFirmwarePath, "C:\\typed.bin");
        });
        bench.Backend.QueueCommand(4242);   // no such control: ignored
        bench.Backend.QueueCommand(leave);
        bench.Backend.MessageBoxAnswers.push_back(2);   // Cancel to the restart prompt
        EXPECT_EQ(bench.Dialog->DoModal(), IdOk) << leave;
        EXPECT_EQ(drive.Flash, bench.Image) << leave;
        EXPECT_EQ(bench.Dialog->FirmwarePath, "C:\\typed.bin") << leave;
        EXPECT_EQ(bench.Dialog->RestartRequested, 0) << leave;
    }
}

TEST(Dialog, ModalRunOfAnotherTemplateFails) {
    HeadlessWindowBackend backend(UpgradeDialogLayout());
    CDialog other(103, backend);
    EXPECT_EQ(other.DoModal(), -1);
    EXPECT_EQ(backend.ModalRuns(), 0);
}

TEST(Dialog, StartShowsEveryDriveInListOrderAndTheTitleWithItsVersion) {
    UpgradeBench bench;
    bench.AddDrive(131072, 1, 5);
    bench.AddDrive(262144, 1, 10);
    bench.FillSlot(UpgradeBench::PatternImage());
    bench.Start();

    const HeadlessWindowBackend::Control& combo = bench.Backend.ControlById(ControlDeviceCombo);
    EXPECT_EQ(combo.Entries, (std::vector<std::string>{"(0, 0, 0, 0) EMULATED DVD-RW FLASH     Version 1.5",
                                                        "(0, 0, 1, 0) EMULATED DVD-RW FLASH     Version 1.10"}));
    EXPECT_EQ(combo.Selection, 0);
    EXPECT_TRUE(combo.Enabled);
    EXPECT_EQ(bench.Backend.GetWindowTitle(), "Flash Upgrade Program 1.51");
    EXPECT_EQ(bench.Status(), "");
    EXPECT_TRUE(bench.Enabled(ControlUpgrade));
    const HeadlessWindowBackend::Control& progress = bench.Backend.ControlById(ControlProgress);
    EXPECT_EQ(progress.RangeLow, 0);
    EXPECT_EQ(progress.RangeHigh, 100);
    EXPECT_EQ(progress.PositionHistory, std::vector<int>{0});
    ASSERT_EQ(bench.Backend.IconsSet().size(), 2u);
    EXPECT_TRUE(bench.Backend.IconsSet()[0].second);    // big first
    EXPECT_FALSE(bench.Backend.IconsSet()[1].second);   // then small
    EXPECT_EQ(bench.Backend.IconsSet()[0].first, bench.Dialog->AppIcon);
    EXPECT_NE(bench.Dialog->AppIcon, nullptr);
    // The hidden controls stay hidden.
    for (int hidden : {ControlFirmwarePath, ControlBrowse, ControlSave}) {
        EXPECT_FALSE(bench.Backend.ControlById(hidden).Visible) << hidden;
    }
}

TEST(Dialog, OneDriveIsFixedAndAnUnfilledSlotDisablesUpgrade) {
    UpgradeBench bench;
    bench.AddDrive();
    bench.Start();
    EXPECT_FALSE(bench.Enabled(ControlDeviceCombo));
    EXPECT_EQ(bench.Backend.ControlById(ControlDeviceCombo).Selection, 0);
    EXPECT_FALSE(bench.Enabled(ControlUpgrade));
    EXPECT_EQ(bench.Status(), "Need Combine firmware first !!");
}

TEST(Dialog, BrowseTakesOnlyBinFilesWhateverTheirCase) {
    struct Case {
        bool answered;
        const char* chosen;
        bool taken;
    };
    const Case cases[] = {
        {true, "C:\\fw\\NEW.BIN", true}, {true, "C:\\fw\\new.bin", true},  {true, "C:\\fw\\new.Bin", true},
        {true, "C:\\fw\\new.rom", false}, {true, "C:\\fw.bin\\new", false}, {true, "C:\\fw\\new.bin.txt", false},
        {true, "C:\\fw\\newbin", false},  {false, "C:\\fw\\new.bin", false}, {true, "C:\\fw\\.bin", true},
        {true, "C:\\fw\\new.xin", false}, {true, "C:\\fw\\new.bxn", false},
    };
    for (const Case& c : cases) {
        UpgradeBench bench;
        bench.AddDrive();
        bench.Start();   // unfilled: Upgrade starts disabled
        bench.Backend.FileDialogAnswers.push_back({c.answered, c.chosen});
        bench.Press(ControlBrowse);
        EXPECT_EQ(bench.Dialog->FirmwarePath, c.taken ? c.chosen : "") << c.chosen;
        EXPECT_EQ(bench.Enabled(ControlUpgrade), c.taken) << c.chosen;
        EXPECT_EQ(bench.Status(), c.taken ? "Select Firmware or Click Upgrade to Upgrade..." : "Need Combine firmware first !!")
            << c.chosen;
        EXPECT_EQ(bench.Backend.GetControlText(ControlFirmwarePath), c.taken ? c.chosen : "") << c.chosen;
        EXPECT_TRUE(bench.Backend.MessageBoxes().empty());
    }
}

TEST(Dialog, BrowseOffersBinFilesFromTheCurrentDirectoryWhenItFits) {
    struct Case {
        bool fails;
        std::string directory;
        bool initialSet;
    };
    const Case cases[] = {{false, "C:\\work", true}, {true, "C:\\work", false},
                          {false, std::string(255, 'd'), true}, {false, std::string(256, 'd'), false}};
    for (const Case& c : cases) {
        UpgradeBench bench;
        bench.AddDrive();
        bench.Start();
        bench.Backend.CurrentDirectoryFails = c.fails;
        bench.Backend.CurrentDirectoryText = c.directory;
        bench.Press(ControlBrowse);
        ASSERT_EQ(bench.Backend.FileDialogs().size(), 1u);
        const auto& call = bench.Backend.FileDialogs()[0];
        EXPECT_EQ(call.DefaultExtension, "bin");
        EXPECT_EQ(call.InitialName, "*.bin");
        EXPECT_EQ(call.FilterDescription, "Firmware File (bin)");
        EXPECT_EQ(call.FilterPattern, "*.bin");
        EXPECT_EQ(call.Flags, 4ul);
        EXPECT_EQ(call.HasInitialDirectory, c.initialSet) << c.directory.size();
        if (c.initialSet) {
            EXPECT_EQ(call.InitialDirectory, c.directory);
        }
    }
}

TEST(Dialog, LeavingAfterASuccessfulUpgradeAsksToRestart) {
    struct Case {
        bool upgrade;
        bool failAfterwards;
        int answer;
        int restart;
        size_t boxes;
    };
    const Case cases[] = {{false, false, 1, 0, 0}, {true, false, 1, 1, 1}, {true, false, 2, 0, 1}, {true, true, 1, 1, 1}};
    for (const Case& c : cases) {
        UpgradeBench bench;
        BenchDrive& drive = bench.AddDrive();
        bench.FillSlot(UpgradeBench::PatternImage());
        bench.Start();
        if (c.upgrade) bench.Press(ControlUpgrade);
        if (c.failAfterwards) {
            drive.Drive.SetGone(true);
            bench.Press(ControlUpgrade);
            ASSERT_EQ(bench.Status(), "Error Happen in ID 0 OFFSET 0x0000");
        }
        bench.Backend.MessageBoxAnswers.push_back(c.answer);
        bench.Press(ControlExit);
        EXPECT_TRUE(bench.Backend.Ended());
        EXPECT_EQ(bench.Backend.EndResult(), IdOk);
        EXPECT_EQ(bench.Dialog->RestartRequested, c.restart);
        ASSERT_EQ(bench.Backend.MessageBoxes().size(), c.boxes);
        if (c.boxes != 0) {
            const auto& box = bench.Backend.MessageBoxes()[0];
            EXPECT_EQ(box.Text,
                      "You must restart Windows in order for the changes to take effect.You may restart now or exit "
                      "and restart later.");
            EXPECT_EQ(box.Caption, "DVD Firmware Upgrade Program - Restart System");
            EXPECT_EQ(box.Type, 1u);
        }
    }
}

TEST(Dialog, ChunkArgumentsKeepOnlyTheirLowBits) {
    // Callers may pass wider integers; only the low 8 bits of the buffer id and 16 bits of offset
    // and length reach the drive.
    BenchDrive drive;
    EmulatedTransport transport;
    transport.AttachDrive(0, 0, &drive.Drive);
    DeviceRecord record;
    ClearDeviceRecord(record);
    ASSERT_NE(transport.OpenDevice(record), 0);
    std::vector<uint8_t> chunk(0x4000, 0x3C);
    unsigned wideId = 0x301, wideOffset = 0x2C000, wideLength = 0x34000;
    ASSERT_NE(transport.WriteFirmwareChunk(chunk.data(), wideId, wideOffset, wideLength), 0);
    EXPECT_EQ(LoggedChunks(drive.Drive, 0x3B, 7), (std::vector<LoggedChunk>{{0x1C000, 0x4000}}));
}

}  // namespace
