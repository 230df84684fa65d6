// The firmware operations on their own, each on an emulated drive: the outcome that every fault
// ends in, how far the flash got, and the events a sink is told.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/ForwardingTransport.h"
#include "tests/support/UpgradeBench.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareOperations.h"

namespace {

using emulator::EmulatedDrive;
using Kind = OperationOutcome::Kind;
using Writes = OperationOutcome::Writes;
using Phase = OperationOutcome::Phase;
using Events = std::vector<std::string>;

// Every event as a short line, in order.
class RecordingSink final : public OperationSink {
public:
    Events Seen;
    bool WritingAllowed = true;
    int ReadsAllowed = -1;   // chunk reads before the sink asks to stop; -1: all

    bool MayStartWriting() override {
        Note(WritingAllowed ? "may write" : "may not write");
        return WritingAllowed;
    }
    bool MayReadOn() override { return ReadsAllowed < 0 || ReadsAllowed-- > 0; }

    void Started(uint32_t flashSize) override { Note("started " + Hex(flashSize)); }
    void ChunkWritten(uint32_t offset, uint32_t length) override { Note("written " + Hex(offset) + " " + Hex(length)); }
    void ChunkVerified(uint32_t offset, uint32_t length) override {
        Note("verified " + Hex(offset) + " " + Hex(length));
    }
    void ChunkRead(uint32_t offset, uint32_t length) override { Note("read " + Hex(offset) + " " + Hex(length)); }
    void AttemptFailed(uint32_t offset, Phase phase, int attempt, const TransportFailure& reason) override {
        static const char* const phases[] = {"write", "read-back", "compare", "dump"};
        Note("failed " + Hex(offset) + " " + phases[static_cast<int>(phase)] + " " + std::to_string(attempt) + " " +
             std::to_string(reason.Error));
    }
    void CommitSent(bool accepted) override { Note(accepted ? "commit accepted" : "commit refused"); }
    void Finished(const OperationOutcome& outcome) override {
        Note("finished " + std::to_string(static_cast<int>(outcome.Result)));
    }

private:
    static std::string Hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%X", value);
        return text;
    }
    void Note(const std::string& line) { Seen.push_back(line); }
};

// Reports every failed chunk command as the system's lasting refusal, as the Linux transport does
// once the kernel refused a command for want of privilege.
class RefusingTransport final : public ForwardingTransport {
public:
    using ForwardingTransport::ForwardingTransport;

    int ReadBackChunk(uint8_t* b, uint8_t id, uint16_t at, uint16_t n) override {
        return Judged(ForwardingTransport::ReadBackChunk(b, id, at, n));
    }
    int WriteFirmwareChunk(uint8_t* b, uint8_t id, uint16_t at, uint16_t n) override {
        return Judged(ForwardingTransport::WriteFirmwareChunk(b, id, at, n));
    }
    TransportFailure LastFailure() const override { return failure_; }

private:
    int Judged(int result) {
        failure_ = TransportFailure();
        if (!result) {
            failure_.Why = TransportFailure::Cause::Refused;
            failure_.Error = 1;
            failure_.Node = "/dev/sg0";
            failure_.Lasting = true;
        }
        return result;
    }

    TransportFailure failure_;
};

// The operations with a bench's drives, files and buffers, and the first drive's record.
struct OperationsRig {
    UpgradeBench Bench;
    BenchDrive& Drive;
    FirmwareOperations Operations;
    DeviceRecord Record{};
    RecordingSink Sink;

    explicit OperationsRig(uint32_t flashSize = 131072)
        : Drive(Bench.AddDrive(flashSize)),
          Operations(FirmwareOperations::Platform{Bench.Files, Bench.Sleep, Bench.Buffers, Bench.Slot.data()}) {
        Bench.FillSlot(UpgradeBench::PatternImage());
        DeviceList list;
        Bench.Transport.EnumerateDevices(list);
        Record = *list.At(0);
        Drive.Drive.ClearLog();
    }

    // What every operation leaves behind, whatever its outcome.
    void ExpectNothingHeld() {
        EXPECT_EQ(Bench.Transport.SuccessfulOpens(), Bench.Transport.Closes());
        EXPECT_EQ(Bench.Transport.CommandsWhileClosed(), 0);
        EXPECT_EQ(Bench.Buffers.Held(), 0u);
        EXPECT_EQ(Bench.Buffers.BadReleases, 0);
        EXPECT_EQ(Bench.Files.OpenCount(), 0);
    }
    bool FlashHoldsImage() { return std::equal(Bench.Image.begin(), Bench.Image.end(), Drive.Drive.Flash()); }
};

struct Answer final : FirmwareOperations::OverwriteQuestion {
    explicit Answer(bool yes) : Yes(yes) {}
    bool Yes;
    int Asked = 0;
    bool MayOverwrite(const std::string&) override {
        ++Asked;
        return Yes;
    }
};

TEST(FirmwareOperations, EachUpgradeOutcomeFromItsSmallestFaultSaysHowFarTheFlashGot) {
    struct Case {
        const char* Name;
        uint32_t FlashSize;
        void (*Arrange)(OperationsRig&);
        bool StopBeforeWriting;
        Kind Result;
        Writes Written;
        uint32_t FailedOffset;
        Phase FailedPhase;
        int Attempts;
        const char* DriveLog;
    };
    const auto nothing = [](OperationsRig&) {};
    const Case cases[] = {
        {"done", 131072, nothing, false, Kind::Done, Writes::Committed, 0, Phase::Write, 0, "WRWRWRWRWRWRWRWRC"},
        {"commit refused", 131072,
         [](OperationsRig& r) { r.Drive.Drive.FailCommand(EmulatedDrive::Kind::Commit, 0, 1); }, false, Kind::Done,
         Writes::Committed, 0, Phase::Write, 0, "WRWRWRWRWRWRWRWRC"},
        {"slot unfilled", 131072, [](OperationsRig& r) { std::memcpy(r.Bench.Slot.data(), "INSERT_FIRMWARE", 15); },
         false, Kind::SlotUnfilled, Writes::Nothing, 0, Phase::Write, 0, ""},
        {"open refused", 131072, [](OperationsRig& r) { r.Bench.Transport.OpenFails = true; }, false, Kind::OpenFailed,
         Writes::Nothing, 0, Phase::Write, 0, ""},
        {"flash of 256 KiB", 262144, nothing, false, Kind::FlashSizeMismatch, Writes::Nothing, 0, Phase::Write, 0, ""},
        {"no image buffer", 131072, [](OperationsRig& r) { r.Bench.Buffers.FailRequestNumber = 1; }, false,
         Kind::NoImageBuffer, Writes::Nothing, 0, Phase::Write, 0, ""},
        {"no read-back buffer", 131072, [](OperationsRig& r) { r.Bench.Buffers.FailRequestNumber = 2; }, false,
         Kind::NoReadBackBuffer, Writes::Nothing, 0, Phase::Write, 0, ""},
        {"checksum", 131072, [](OperationsRig& r) { r.Bench.FillSlot(UpgradeBench::PatternImage(), "0000"); }, false,
         Kind::ChecksumMismatch, Writes::Nothing, 0, Phase::Write, 0, ""},
        {"dry run", 131072, nothing, true, Kind::StoppedBeforeWriting, Writes::Nothing, 0, Phase::Write, 0, ""},
        // A write that the drive refused may still have reached the flash: it counts as written.
        {"first write fails", 131072,
         [](OperationsRig& r) {
             r.Drive.Drive.FailCommand(EmulatedDrive::Kind::WriteChunk, 0, EmulatedDrive::Forever);
         },
         false, Kind::ChunkFailed, Writes::NotCommitted, 0, Phase::Write, 5, "WWWWW"},
        {"sixth chunk's write", 131072,
         [](OperationsRig& r) { r.Drive.Drive.FailCommand(EmulatedDrive::Kind::WriteChunk, 0x14000, 5); }, false,
         Kind::ChunkFailed, Writes::NotCommitted, 0x14000, Phase::Write, 5, "WRWRWRWRWRWWWWW"},
        {"read-back fails", 131072,
         [](OperationsRig& r) { r.Drive.Drive.FailCommand(EmulatedDrive::Kind::ReadBack, 0x4000, 5); }, false,
         Kind::ChunkFailed, Writes::NotCommitted, 0x4000, Phase::ReadBack, 5, "WRWRWRWRWRWR"},
        {"read-back differs", 131072, [](OperationsRig& r) { r.Drive.Drive.CorruptReadBack(0x1C000, 5); }, false,
         Kind::ChunkFailed, Writes::NotCommitted, 0x1C000, Phase::Compare, 5, "WRWRWRWRWRWRWRWRWRWRWRWR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        OperationsRig rig(c.FlashSize);
        c.Arrange(rig);
        const OperationOutcome outcome =
            rig.Operations.Upgrade(rig.Bench.Transport, rig.Record, rig.Sink, c.StopBeforeWriting);
        EXPECT_EQ(outcome.Result, c.Result);
        EXPECT_EQ(outcome.Written, c.Written);
        EXPECT_EQ(outcome.FlashOffset, c.FailedOffset);
        EXPECT_EQ(outcome.FailedPhase, c.FailedPhase);
        EXPECT_EQ(outcome.Attempts, c.Attempts);
        EXPECT_EQ(outcome.Reason.Error, 0);
        EXPECT_EQ(LogLetters(rig.Drive.Drive), c.DriveLog);
        // A write the drive accepted is the one that its read-back follows.
        size_t accepted = 0;
        for (const char* at = std::strstr(c.DriveLog, "WR"); at != nullptr; at = std::strstr(at + 2, "WR")) ++accepted;
        EXPECT_EQ(outcome.ChunksAccepted, accepted);
        // The drive takes the chunks into its flash only on a commit that it accepted.
        EXPECT_EQ(rig.FlashHoldsImage(), c.Written == Writes::Committed && outcome.CommitAccepted);
        EXPECT_EQ(rig.Bench.Sleep.Pauses,
                  c.Written == Writes::Committed ? std::vector<unsigned>{200} : std::vector<unsigned>{});
        EXPECT_EQ(rig.Sink.Seen.back(), "finished " + std::to_string(static_cast<int>(c.Result)));
        rig.ExpectNothingHeld();
    }
}

// The sink may stop an upgrade before its first write, and a read between two chunks; it is never
// asked about reads while an upgrade writes.
TEST(FirmwareOperations, TheSinkStopsBeforeTheFirstWriteOrBetweenReadsOnly) {
    OperationsRig refused;
    refused.Sink.WritingAllowed = false;
    const OperationOutcome stopped = refused.Operations.Upgrade(refused.Bench.Transport, refused.Record, refused.Sink);
    EXPECT_EQ(stopped.Result, Kind::Stopped);
    EXPECT_EQ(stopped.Written, Writes::Nothing);
    EXPECT_EQ(LogLetters(refused.Drive.Drive), "");
    refused.ExpectNothingHeld();

    OperationsRig writing;
    writing.Sink.ReadsAllowed = 0;
    EXPECT_TRUE(writing.Operations.Upgrade(writing.Bench.Transport, writing.Record, writing.Sink).Succeeded());
    EXPECT_EQ(writing.Sink.Seen[1], "may write");
    EXPECT_EQ(LogLetters(writing.Drive.Drive), "WRWRWRWRWRWRWRWRC");

    OperationsRig reading;
    reading.Sink.ReadsAllowed = 3;
    const OperationOutcome read = reading.Operations.Verify(reading.Bench.Transport, reading.Record, reading.Sink);
    EXPECT_EQ(read.Result, Kind::Stopped);
    EXPECT_EQ(read.FlashOffset, 0xC000u);
    EXPECT_EQ(LogLetters(reading.Drive.Drive), "DDD");
    reading.ExpectNothingHeld();
}

TEST(FirmwareOperations, OutcomesCarryTheirDetails) {
    OperationsRig done;
    done.Drive.Drive.FailCommand(EmulatedDrive::Kind::Commit, 0, 1);
    EXPECT_FALSE(done.Operations.Upgrade(done.Bench.Transport, done.Record, done.Sink).CommitAccepted);
    OperationsRig accepted;
    EXPECT_TRUE(accepted.Operations.Upgrade(accepted.Bench.Transport, accepted.Record, accepted.Sink).CommitAccepted);

    OperationsRig checksum;
    checksum.Bench.FillSlot(UpgradeBench::PatternImage(), "00AB");
    const OperationOutcome mismatch =
        checksum.Operations.Upgrade(checksum.Bench.Transport, checksum.Record, checksum.Sink);
    EXPECT_EQ(mismatch.ExpectedChecksum, 0x00AB);
    EXPECT_EQ(mismatch.ComputedChecksum, upgrade::ImageChecksum(checksum.Bench.Image.data(), 131072));

    OperationsRig large(262144);
    EXPECT_EQ(large.Operations.Upgrade(large.Bench.Transport, large.Record, large.Sink).FlashSize, 262144u);
    EXPECT_EQ(large.Operations.Verify(large.Bench.Transport, large.Record, large.Sink).FlashSize, 262144u);
}

TEST(FirmwareOperations, ALastingRefusalEndsTheChunkAtOnceWithTheTransportsReason) {
    OperationsRig rig;
    rig.Drive.Drive.FailCommand(EmulatedDrive::Kind::WriteChunk, 0x8000, 1);
    RefusingTransport refusing(rig.Bench.Transport);
    const OperationOutcome outcome = rig.Operations.Upgrade(refusing, rig.Record, rig.Sink);
    EXPECT_EQ(outcome.Result, Kind::ChunkFailed);
    EXPECT_EQ(outcome.Written, Writes::NotCommitted);
    EXPECT_EQ(outcome.FlashOffset, 0x8000u);
    EXPECT_EQ(outcome.Attempts, 1);
    EXPECT_EQ(outcome.Reason.Error, 1);
    EXPECT_EQ(outcome.Reason.Node, "/dev/sg0");
    EXPECT_TRUE(outcome.Reason.Lasting);
    EXPECT_EQ(LogLetters(rig.Drive.Drive), "WRWRW");
    rig.ExpectNothingHeld();
}

// The faults of Save's table.
void KeepOldFile(OperationsRig& r) { r.Bench.Files.Files["dump.bin"] = {1, 1, 1}; }
void FailFileOpen(OperationsRig& r) { r.Bench.Files.FailOpen = true; }
void FailFirstBuffer(OperationsRig& r) { r.Bench.Buffers.FailRequestNumber = 1; }
void RefuseOpen(OperationsRig& r) { r.Bench.Transport.OpenFails = true; }
void FailFileWrite(OperationsRig& r) { r.Bench.Files.FailWrite = true; }
void KeepOldFileAndFailThirdDump(OperationsRig& r) {
    KeepOldFile(r);
    r.Drive.Drive.FailCommand(EmulatedDrive::Kind::Dump, 0x8000, 5);
}

TEST(FirmwareOperations, EachSaveOutcomeFromItsSmallestFault) {
    struct Case {
        const char* Name;
        void (*Arrange)(OperationsRig&);
        bool Answer;
        Kind Result;
        const char* DriveLog;
        std::vector<uint8_t> FileAfter;  // empty with Dumped: the flash
        bool Dumped;
    };
    const std::vector<uint8_t> old(3, 0x01);
    const Case cases[] = {
        {"done", [](OperationsRig&) {}, true, Kind::Done, "DDDDDDDD", {}, true},
        {"content, overwritten", KeepOldFile, true, Kind::Done, "DDDDDDDD", {}, true},
        {"content, declined", KeepOldFile, false, Kind::OverwriteDeclined, "", old, false},
        {"file cannot be opened", FailFileOpen, true, Kind::FileOpenFailed, "", {}, false},
        {"no buffer", FailFirstBuffer, true, Kind::NoImageBuffer, "", {}, false},
        {"open refused", RefuseOpen, true, Kind::OpenFailed, "", {}, false},
        // A failed dump leaves the old content as it was.
        {"dump fails", KeepOldFileAndFailThirdDump, true, Kind::ChunkFailed, "DDDDDDD", old, false},
        {"file write fails", FailFileWrite, true, Kind::FileWriteFailed, "DDDDDDDD", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        OperationsRig rig;
        c.Arrange(rig);
        Answer answer(c.Answer);
        const OperationOutcome outcome =
            rig.Operations.Save(rig.Bench.Transport, rig.Record, "dump.bin", answer, rig.Sink);
        EXPECT_EQ(outcome.Result, c.Result);
        EXPECT_EQ(outcome.Written, Writes::Nothing);
        EXPECT_EQ(LogLetters(rig.Drive.Drive), c.DriveLog);
        const std::vector<uint8_t> flash(rig.Drive.Drive.Flash(), rig.Drive.Drive.Flash() + 131072);
        EXPECT_EQ(rig.Bench.Files.Files["dump.bin"], c.Dumped ? flash : c.FileAfter);
        rig.ExpectNothingHeld();
    }
}

// "WHAT OFFSET 4000": the sink's line for a whole chunk at OFFSET.
std::string ChunkEvent(const char* what, uint32_t offset) {
    char line[32];
    std::snprintf(line, sizeof line, "%s %X 4000", what, offset);
    return line;
}

TEST(FirmwareOperations, TheSinkHearsOneUpgradeAndOneSaveInOrder) {
    OperationsRig upgrade;
    upgrade.Drive.Drive.CorruptReadBack(0x4000, 1);
    upgrade.Operations.Upgrade(upgrade.Bench.Transport, upgrade.Record, upgrade.Sink);
    // The question before the first write comes once, after the start.
    Events expected = {"started 20000",     "may write",
                       "written 0 4000",    "verified 0 4000",
                       "written 4000 4000", "failed 4000 compare 1 0",
                       "written 4000 4000", "verified 4000 4000"};
    for (uint32_t at = 0x8000; at < 0x20000; at += 0x4000) {
        expected.push_back(ChunkEvent("written", at));
        expected.push_back(ChunkEvent("verified", at));
    }
    expected.insert(expected.end(), {"commit accepted", "finished 0"});
    EXPECT_EQ(upgrade.Sink.Seen, expected);

    OperationsRig save;
    save.Drive.Drive.FailCommand(EmulatedDrive::Kind::Dump, 0, 2);
    Answer yes(true);
    save.Operations.Save(save.Bench.Transport, save.Record, "dump.bin", yes, save.Sink);
    expected = {"started 20000", "failed 0 dump 1 0", "failed 0 dump 2 0"};
    for (uint32_t at = 0; at < 0x20000; at += 0x4000) expected.push_back(ChunkEvent("read", at));
    expected.push_back("finished 0");
    EXPECT_EQ(save.Sink.Seen, expected);
    EXPECT_EQ(yes.Asked, 0);
}

TEST(FirmwareOperations, VerifyCountsTheChunksThatDifferAndWritesNothing) {
    OperationsRig rig;
    std::copy(rig.Bench.Image.begin(), rig.Bench.Image.end(), rig.Drive.Drive.Flash());
    // The first byte of the flash, one inside, and the last.
    rig.Drive.Drive.Flash()[0] ^= 0x80;
    rig.Drive.Drive.Flash()[0x4000 * 3 + 7] ^= 0x10;
    rig.Drive.Drive.Flash()[0x1FFFF] ^= 0x01;
    rig.Drive.Drive.ResetStaging();
    const OperationOutcome outcome = rig.Operations.Verify(rig.Bench.Transport, rig.Record, rig.Sink);
    EXPECT_EQ(outcome.Result, Kind::Done);
    EXPECT_EQ(outcome.Written, Writes::Nothing);
    EXPECT_EQ(outcome.DifferingChunks, 3u);
    EXPECT_EQ(LogLetters(rig.Drive.Drive), "DDDDDDDD");
    rig.ExpectNothingHeld();

    OperationsRig unfilled;
    std::memcpy(unfilled.Bench.Slot.data(), "INSERT_FIRMWARE", 15);
    EXPECT_EQ(unfilled.Operations.Verify(unfilled.Bench.Transport, unfilled.Record, unfilled.Sink).Result,
              Kind::SlotUnfilled);
    EXPECT_EQ(LogLetters(unfilled.Drive.Drive), "");
}

}  // namespace
