// Drives that go wrong in ways no single failed command shows: one that vanishes part way, one
// whose answers are short or garbage, one that is no longer the drive the scan found. Whatever the
// drive does, an operation ends with a clear status, the buttons back, the drive closed, its
// buffers released and nothing committed after a chunk that did not verify.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tests/support/ForwardingTransport.h"
#include "tests/support/PassThroughBench.h"
#include "tests/support/UpgradeBench.h"

namespace {

using emulator::EmulatedDrive;

// Sits in front of the bench's transport and forwards every call, so the bench's counts (and
// BrokenInvariants) still see them, adding what a drive rule cannot express: the drive vanishing
// after a number of commands, and read-back transfers that end early yet report success (a
// transport that cannot see how much arrived, as on ASPI).
class FaultingTransport final : public ForwardingTransport {
public:
    static constexpr uint32_t Never = 0xFFFFFFFFu;

    using ForwardingTransport::ForwardingTransport;

    uint32_t GoneAfterCommands = Never;   // commands answered before the drive disappears
    uint16_t ReadBackShortBy = 0;         // bytes a read-back leaves untouched at the chunk's end
    uint32_t ShortOnlyAtOffset = Never;   // Never: every chunk comes back short

    int ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override {
        Count();
        return Short(buffer, bufferId, offset, length, ReadBackShortBy, &EmulatedTransport::ReadBackChunk);
    }
    int DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override {
        Count();
        return ForwardingTransport::DumpFirmwareChunk(buffer, bufferId, offset, length);
    }
    int WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override {
        Count();
        return ForwardingTransport::WriteFirmwareChunk(buffer, bufferId, offset, length);
    }
    int CommitFirmware() override {
        Count();
        return ForwardingTransport::CommitFirmware();
    }

private:
    using Transfer = int (EmulatedTransport::*)(uint8_t*, uint8_t, uint16_t, uint16_t);

    void Count() {
        if (commands_++ != GoneAfterCommands) return;
        EmulatedDrive* drive = inner_.DriveAt(CurrentDevice.PathId, CurrentDevice.TargetId);
        if (drive != nullptr) drive->SetGone(true);
    }

    // The drive moves the whole chunk into a scratch area; only its first LENGTH - SHORTBY bytes
    // reach the caller, whose buffer keeps whatever it held past them.
    int Short(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length, uint16_t shortBy,
              Transfer transfer) {
        const uint32_t flashOffset = bufferId * 65536u + offset;
        if (shortBy == 0 || (ShortOnlyAtOffset != Never && flashOffset != ShortOnlyAtOffset)) {
            return (inner_.*transfer)(buffer, bufferId, offset, length);
        }
        std::vector<uint8_t> scratch(length);
        const int answered = (inner_.*transfer)(scratch.data(), bufferId, offset, length);
        std::copy(scratch.begin(), scratch.end() - std::min<size_t>(shortBy, length), buffer);
        return answered;
    }

    uint32_t commands_ = 0;
};

std::string ChunkError(uint32_t offset) {
    char text[64];
    std::snprintf(text, sizeof text, "Error Happen in ID %x OFFSET 0x%04X", offset >> 16, offset & 0xFFFF);
    return text;
}

const std::vector<uint8_t> OldFile = {0x42};

// The bench with a faulting transport in front: one drive whose flash holds a pattern of its own,
// a filled slot, and a file to save into that already has content (the user agrees to overwrite).
struct FaultBench {
    UpgradeBench Bench;
    BenchDrive& Drive;
    FaultingTransport Faulting;
    std::vector<uint8_t> FlashBefore;

    FaultBench() : Drive(Bench.AddDrive()), Faulting(Bench.Transport) {
        for (size_t i = 0; i < Drive.Flash.size(); ++i) Drive.Flash[i] = static_cast<uint8_t>(i ^ (i >> 8));
        Drive.Drive.ResetStaging();
        FlashBefore = Drive.Flash;
        Bench.FillSlot(UpgradeBench::PatternImage(7));
        Bench.Start();
        Bench.Dialog->FirmwarePath = "out.bin";
        Bench.Files.Files["out.bin"] = OldFile;
        Bench.Backend.MessageBoxAnswers.push_back(6);
        ActiveTransport = &Faulting;
    }
    ~FaultBench() { ActiveTransport = &Bench.Transport; }

    // Replaces the drive's identity after the scan, with storage enough for CONFIG's flash.
    void ChangeIdentity(const emulator::DriveConfig& config) {
        Drive.Flash.assign(config.flashSize, 0xA5);
        Drive.Staging.assign(config.flashSize, 0xA5);
        Drive.Drive.Configure(config);
        Drive.Drive.Attach(Drive.Flash.data(), Drive.Staging.data());
        FlashBefore = Drive.Flash;
    }

    // What every failed chunk leaves, after an Upgrade or a Save.
    void ExpectStoppedAt(uint32_t offset, bool upgrade) {
        EXPECT_EQ(Bench.Status(), ChunkError(offset));
        EXPECT_EQ(Bench.Buttons(), "BUE");
        EXPECT_EQ(Drive.Drive.CommitCount(), 0u);
        EXPECT_EQ(Drive.Flash, FlashBefore);
        EXPECT_EQ(Bench.Dialog->UpgradeSucceeded, 0);
        const uint8_t opcode = upgrade ? 0x3B : 0x3C;
        const uint8_t mode = upgrade ? 7 : 1;
        for (const LoggedChunk& c : LoggedChunks(Drive.Drive, opcode, mode)) EXPECT_LE(c.FlashOffset, offset);
        if (!upgrade) {
            EXPECT_EQ(Bench.Files.Files["out.bin"], OldFile);
        }
        EXPECT_FALSE(Bench.Transport.IsOpen());
        EXPECT_EQ(Bench.BrokenInvariants(), "");
    }
};

TEST(DriveFault, UpgradeOfADriveThatDisappearsStopsAtTheFirstUnansweredChunk) {
    // Each chunk is a write and a read-back; the commit is the 17th command.
    const struct {
        uint32_t goneAfter;
        uint32_t stopsAt;
    } cases[] = {{0, 0x0000}, {1, 0x0000}, {6, 0xC000}, {7, 0xC000}, {8, 0x10000}, {15, 0x1C000}};
    for (const auto& c : cases) {
        SCOPED_TRACE("gone after " + std::to_string(c.goneAfter) + " commands");
        FaultBench f;
        f.Faulting.GoneAfterCommands = c.goneAfter;
        f.Bench.Press(ControlUpgrade);
        f.ExpectStoppedAt(c.stopsAt, true);
    }
}

TEST(DriveFault, SaveFromADriveThatDisappearsLeavesTheFileAlone) {
    const struct {
        uint32_t goneAfter;
        uint32_t stopsAt;
    } cases[] = {{0, 0x0000}, {3, 0xC000}, {4, 0x10000}, {7, 0x1C000}};
    for (const auto& c : cases) {
        SCOPED_TRACE("gone after " + std::to_string(c.goneAfter) + " commands");
        FaultBench f;
        f.Faulting.GoneAfterCommands = c.goneAfter;
        f.Bench.Press(ControlSave);
        f.ExpectStoppedAt(c.stopsAt, false);
    }
}

TEST(DriveFault, UpgradeOfADriveThatDisappearsAtTheCommitLeavesItsFlashUnchanged) {
    // The commit's answer is not examined (the restart activates the chunks), so the status says
    // success; what matters is that the flash was not half-changed and everything was put back.
    FaultBench f;
    f.Faulting.GoneAfterCommands = 16;
    f.Bench.Press(ControlUpgrade);
    EXPECT_EQ(f.Bench.Status(), "Upgrade Firmware Successful!!");
    EXPECT_EQ(f.Bench.Buttons(), "-UE");
    EXPECT_EQ(f.Drive.Drive.CommitCount(), 0u);
    EXPECT_EQ(f.Drive.Flash, f.FlashBefore);
    EXPECT_EQ(f.Bench.BrokenInvariants(), "");
}

TEST(DriveFault, UpgradeRejectsShortOrGarbageReadBack) {
    enum class Fault { ShortEveryChunk, ShortOneChunk, GarbageForever };
    const struct {
        Fault fault;
        uint16_t shortBy;
        uint32_t chunkOffset;
        const char* name;
    } cases[] = {
        {Fault::ShortEveryChunk, 1, 0x0000, "every read-back one byte short"},
        {Fault::ShortEveryChunk, 4096, 0x0000, "every read-back 4 KiB short"},
        {Fault::ShortEveryChunk, 16383, 0x0000, "every read-back only its first byte"},
        {Fault::ShortOneChunk, 2, 0x14000, "the read-back of chunk 5 two bytes short"},
        {Fault::ShortOneChunk, 2, 0x1C000, "the read-back of the last chunk two bytes short"},
        {Fault::GarbageForever, 0, 0x0000, "every read-back corrupted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FaultBench f;
        switch (c.fault) {
        case Fault::ShortEveryChunk: f.Faulting.ReadBackShortBy = c.shortBy; break;
        case Fault::ShortOneChunk:
            f.Faulting.ReadBackShortBy = c.shortBy;
            f.Faulting.ShortOnlyAtOffset = c.chunkOffset;
            break;
        case Fault::GarbageForever:
            f.Drive.Drive.CorruptReadBack(EmulatedDrive::AnyOffset, EmulatedDrive::Forever);
            break;
        }
        f.Bench.Press(ControlUpgrade);
        f.ExpectStoppedAt(c.chunkOffset, true);
        EXPECT_EQ(LoggedChunks(f.Drive.Drive, 0x3B, 7).size(), c.chunkOffset / 0x4000 + 5u);
    }
}

// Save has nothing to check a dump against but the count the port driver reports: on the NT
// family a dump that ends early is a failed attempt, and the file keeps what it held.
TEST(DriveFault, SaveOverPassThroughOfADumpThatEndsEarlyLeavesTheFileAlone) {
    const struct {
        uint32_t shortBy;
        const char* status;
    } cases[] = {{16, "Error Happen in ID 0 OFFSET 0x0000"}, {1, "Error Happen in ID 0 OFFSET 0x0000"},
                 {0, "Upgrade Firmware Successful!!"}};
    for (const auto& c : cases) {
        SCOPED_TRACE("short by " + std::to_string(c.shortBy));
        UpgradeBench bench;  // no drive of its own: the list is the NT machine's
        PassThroughBench nt;
        nt.AddPort(0, {1});
        nt.AddUnit(0, 0, 0, "CdRom0");
        EmulatedDrive& drive = nt.AddDrive("\\Device\\CdRom0", 0, 0, 0, "E:");
        for (uint32_t i = 0; i < drive.FlashSize(); ++i) drive.Flash()[i] = static_cast<uint8_t>(i ^ (i >> 9));
        drive.ResetStaging();
        bench.FillSlot(UpgradeBench::PatternImage(7));
        FirmwareOperations::Platform platform{bench.Files, bench.Sleep, bench.Buffers, bench.Slot.data()};
        bench.Dialog = std::make_unique<UpgradeDialog>(bench.Backend, platform);
        nt.Start().EnumerateDevices(bench.Dialog->DeviceList);
        ASSERT_EQ(bench.Dialog->DeviceList.Count(), 1u);
        ActiveTransport = nt.Transport.get();
        bench.Backend.Open(*bench.Dialog);
        bench.Dialog->FirmwarePath = "out.bin";
        bench.Files.Files["out.bin"] = OldFile;
        bench.Backend.MessageBoxAnswers.push_back(6);
        drive.ClearLog();

        nt.Machine.EndDataInEarly(c.shortBy);
        bench.Press(ControlSave);
        EXPECT_EQ(bench.Status(), c.status);
        EXPECT_EQ(bench.Buttons(), "BUE");
        const std::vector<LoggedChunk> dumps = LoggedChunks(drive, 0x3C, 1);
        if (c.shortBy != 0) {
            EXPECT_EQ(bench.Files.Files["out.bin"], OldFile);
            ASSERT_FALSE(dumps.empty());
            for (const LoggedChunk& d : dumps) EXPECT_EQ(d.FlashOffset, 0u) << "nothing after the first chunk";
        } else {
            EXPECT_EQ(bench.Files.Files["out.bin"], std::vector<uint8_t>(drive.Flash(), drive.Flash() + 131072));
            EXPECT_EQ(dumps.size(), 8u);
        }
        EXPECT_EQ(nt.Machine.OpenHandles(), 0);
        EXPECT_EQ(nt.Machine.BadCloses(), 0);
        EXPECT_EQ(bench.BrokenInvariants(), "");
    }
}

emulator::DriveConfig Reidentified(uint16_t controllerId, uint16_t sizeWordKiB, uint32_t flashSize) {
    emulator::DriveConfig config;
    config.SetVendor("EMULATED");
    config.SetProduct("DVD-RW FLASH");
    config.controllerId = controllerId;
    config.sizeWordKiB = sizeWordKiB;
    config.flashSize = flashSize;
    return config;
}

TEST(DriveFault, ADriveThatShrankSinceTheScanStopsAtItsEnd) {
    // The record still says 128 KiB; the drive answers only for its 64 KiB now.
    for (bool upgrade : {true, false}) {
        SCOPED_TRACE(upgrade ? "upgrade" : "save");
        FaultBench f;
        f.ChangeIdentity(Reidentified(0x6E15, 64, 65536));
        f.Bench.Press(upgrade ? ControlUpgrade : ControlSave);
        f.ExpectStoppedAt(0x10000, upgrade);
        for (size_t size : f.Bench.Buffers.Sizes) EXPECT_EQ(size, 131072u);
    }
}

TEST(DriveFault, ADriveThatGrewSinceTheScanIsNeverReachedPastTheBuffers) {
    // Another controller with a 256 KiB flash at the same place: nothing the operations send or
    // ask for may reach past the 128 KiB buffers they obtained for the record. The open trusts
    // the scan's record and asks the drive nothing, so the upgrade puts the image into the first
    // 128 KiB and commits it (a limit the README states).
    for (bool upgrade : {true, false}) {
        SCOPED_TRACE(upgrade ? "upgrade" : "save");
        FaultBench f;
        f.ChangeIdentity(Reidentified(0x6E47, 0, 262144));
        f.Bench.Press(upgrade ? ControlUpgrade : ControlSave);
        for (size_t size : f.Bench.Buffers.Sizes) EXPECT_EQ(size, 131072u);
        for (const LoggedChunk& c : LoggedChunks(f.Drive.Drive, upgrade ? 0x3B : 0x3C, upgrade ? 7 : 1)) {
            EXPECT_LE(c.FlashOffset + c.Length, 131072u);
        }
        EXPECT_TRUE(
            std::equal(f.Drive.Staging.begin() + 131072, f.Drive.Staging.end(), f.FlashBefore.begin() + 131072));
        EXPECT_EQ(f.Bench.Buttons(), upgrade ? "-UE" : "BUE");
        if (upgrade) {
            EXPECT_EQ(f.Drive.Drive.CommitCount(), 1u);
            EXPECT_TRUE(std::equal(f.Bench.Image.begin(), f.Bench.Image.end(), f.Drive.Flash.begin()));
        } else {
            EXPECT_EQ(f.Bench.Files.Files["out.bin"],
                      std::vector<uint8_t>(f.Drive.Flash.begin(), f.Drive.Flash.begin() + 131072));
        }
        EXPECT_EQ(f.Bench.BrokenInvariants(), "");
    }
}

}  // namespace
