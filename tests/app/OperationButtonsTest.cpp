// The buttons while Upgrade and Save talk to the drive: "...", Upgrade and Exit are disabled before
// the open and stay so while the drive is in use, except Upgrade, which an Upgrade gives back once
// its buffers are held.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/UpgradeBench.h"

namespace {

using emulator::EmulatedDrive;
using Kind = EmulatedDrive::Kind;

// Hands every call on to the bench's emulated transport and notes, at the moment of the call, its
// letter and the buttons as UpgradeBench::Buttons draws them; each such pair once, in the order
// first seen.
class ButtonWatchingTransport final : public DriveTransport {
public:
    explicit ButtonWatchingTransport(UpgradeBench& bench) : bench_(bench), inner_(bench.Transport) {
        Usable = inner_.Usable;
        AdapterCount = inner_.AdapterCount;
    }

    std::vector<std::string> Seen;

    void EnumerateDevices(DeviceList& list) override {
        Note('S');
        inner_.EnumerateDevices(list);
    }
    int InquireDevice() override {
        Note('I');
        return inner_.InquireDevice();
    }
    int IdentifyController() override {
        Note('Q');
        return inner_.IdentifyController();
    }
    int OpenDevice(const DeviceRecord& record) override {
        Note('O');
        const int opened = inner_.OpenDevice(record);
        CurrentDevice = inner_.CurrentDevice;
        return opened;
    }
    void CloseDevice() override {
        Note('X');
        inner_.CloseDevice();
    }
    int ReadBackChunk(uint8_t* buffer, uint8_t id, uint16_t offset, uint16_t length) override {
        Note('R');
        return inner_.ReadBackChunk(buffer, id, offset, length);
    }
    int DumpFirmwareChunk(uint8_t* buffer, uint8_t id, uint16_t offset, uint16_t length) override {
        Note('D');
        return inner_.DumpFirmwareChunk(buffer, id, offset, length);
    }
    int WriteFirmwareChunk(uint8_t* buffer, uint8_t id, uint16_t offset, uint16_t length) override {
        Note('W');
        return inner_.WriteFirmwareChunk(buffer, id, offset, length);
    }
    int CommitFirmware() override {
        Note('C');
        return inner_.CommitFirmware();
    }

private:
    void Note(char call) {
        const std::string seen = std::string(1, call) + " " + bench_.Buttons();
        if (std::find(Seen.begin(), Seen.end(), seen) == Seen.end()) Seen.push_back(seen);
    }

    UpgradeBench& bench_;
    EmulatedTransport& inner_;
};

TEST(OperationButtons, HeldDisabledFromBeforeTheOpenUntilTheClose) {
    struct Case {
        const char* what;
        int command;
        uint32_t flashSize;
        void (*arrange)(UpgradeBench&, BenchDrive&);
        std::vector<std::string> seen;
    };
    const Case cases[] = {
        {"upgrade", ControlUpgrade, 131072, [](UpgradeBench&, BenchDrive&) {},
         {"O ---", "W -U-", "R -U-", "C -U-", "X -U-"}},
        {"upgrade, a chunk failing for good", ControlUpgrade, 131072,
         [](UpgradeBench&, BenchDrive& d) { d.Drive.FailCommand(Kind::WriteChunk, 0x4000, EmulatedDrive::Forever); },
         {"O ---", "W -U-", "R -U-", "X -U-"}},
        {"upgrade, checksum mismatch", ControlUpgrade, 131072,
         [](UpgradeBench& b, BenchDrive&) { b.FillSlot(UpgradeBench::PatternImage(), "0000"); }, {"O ---", "X -U-"}},
        {"upgrade, flash of 256 KiB", ControlUpgrade, 262144, [](UpgradeBench&, BenchDrive&) {}, {"O ---", "X ---"}},
        {"upgrade, no read-back buffer", ControlUpgrade, 131072,
         [](UpgradeBench& b, BenchDrive&) { b.Buffers.FailRequestNumber = 2; }, {"O ---", "X ---"}},
        {"upgrade, open fails", ControlUpgrade, 131072, [](UpgradeBench& b, BenchDrive&) { b.Transport.OpenFails = true; },
         {"O ---"}},
        {"save", ControlSave, 131072, [](UpgradeBench&, BenchDrive&) {}, {"O ---", "D ---", "X ---"}},
        {"save, a chunk failing for good", ControlSave, 131072,
         [](UpgradeBench&, BenchDrive& d) { d.Drive.FailCommand(Kind::Dump, 0x8000, EmulatedDrive::Forever); },
         {"O ---", "D ---", "X ---"}},
        {"save, open fails", ControlSave, 131072, [](UpgradeBench& b, BenchDrive&) { b.Transport.OpenFails = true; },
         {"O ---"}},
    };
    for (const Case& c : cases) {
        UpgradeBench bench;
        BenchDrive& drive = bench.AddDrive(c.flashSize);
        bench.FillSlot(UpgradeBench::PatternImage());
        c.arrange(bench, drive);
        bench.Start();
        bench.Dialog->FirmwarePath = "dump.bin";
        ButtonWatchingTransport watching(bench);
        ActiveTransport = &watching;
        bench.Press(c.command);
        ActiveTransport = &bench.Transport;
        EXPECT_EQ(watching.Seen, c.seen) << c.what;
        EXPECT_EQ(bench.BrokenInvariants(), "") << c.what;
    }
}

}  // namespace
