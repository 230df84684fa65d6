// The SG_IO header of every command and the rules by which the transport judges the outcome.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/sgio/LinuxMachineBench.h"
#include "transport/SgIoTransport.h"

namespace {

using Bytes = std::vector<uint8_t>;
using emulator::EmulatedDrive;
using ScsiCall = SimulatedLinuxMachine::ScsiCall;

class SgIoCommands : public ::testing::Test {
protected:
    LinuxMachineBench bench;
    EmulatedDrive* drive = nullptr;
    SgIoTransport* transport = nullptr;
    DeviceRecord record{};

    void SetUp() override {
        drive = &bench.AddDrive({0, 1, 2, 0}, "sr0", "sg0");
        transport_ = std::make_unique<SgIoTransport>(bench.Machine);
        transport = transport_.get();
        DeviceList list;
        transport->EnumerateDevices(list);
        ASSERT_EQ(list.Count(), 1u);
        record = *list.At(0);
    }

    void Open() {
        ASSERT_NE(transport->OpenDevice(record), 0);
        bench.Machine.ClearCalls();
        drive->ClearLog();
    }

    const ScsiCall& OnlyCall() {
        EXPECT_EQ(bench.Machine.ScsiCalls().size(), 1u);
        return bench.Machine.ScsiCalls().back();
    }

private:
    std::unique_ptr<SgIoTransport> transport_;
};

TEST_F(SgIoCommands, IdentificationAsksForItsAnswersThroughTheListedNode) {
    struct Expected {
        Bytes Cdb;
        unsigned Room;
    };
    const Expected expected[] = {
        {{0x12, 0x00, 0x00, 0x00, 0xC0, 0x00}, 192},
        {{0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00}, 192},
    };
    // The scan of SetUp sent both.
    bench.Machine.ClearCalls();
    DeviceList list;
    transport->EnumerateDevices(list);
    const std::vector<ScsiCall>& calls = bench.Machine.ScsiCalls();
    ASSERT_EQ(calls.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const sg_io_hdr_t& header = calls[i].Header;
        EXPECT_EQ(calls[i].Node, "/dev/sr0");
        EXPECT_EQ(calls[i].Cdb, expected[i].Cdb);
        EXPECT_EQ(header.interface_id, 'S');
        EXPECT_EQ(header.dxfer_direction, SG_DXFER_FROM_DEV);
        EXPECT_EQ(header.cmd_len, expected[i].Cdb.size());
        EXPECT_EQ(header.dxfer_len, expected[i].Room);
        EXPECT_NE(header.dxferp, nullptr);
        EXPECT_EQ(header.mx_sb_len, 24);
        EXPECT_NE(header.sbp, nullptr);
        EXPECT_EQ(header.timeout, 256000u);
        EXPECT_EQ(header.iovec_count, 0);
        EXPECT_EQ(header.flags, 0u);
    }
}

TEST_F(SgIoCommands, ChunksTravelInTheCallersBufferThroughTheGenericNode) {
    Open();
    Bytes written(0x4000), into(0x4000, 0);
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 13 + 5);
    struct Case {
        const char* Name;
        int (SgIoTransport::*Operation)(uint8_t*, uint8_t, uint16_t, uint16_t);
        uint8_t* Buffer;
        uint8_t BufferId;
        uint16_t Offset;
        int Direction;
        Bytes Cdb;
    };
    const Case cases[] = {
        {"write", &SgIoTransport::WriteFirmwareChunk, written.data(), 1, 0xC000, SG_DXFER_TO_DEV,
         {0x3B, 0x07, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"read-back", &SgIoTransport::ReadBackChunk, into.data(), 1, 0xC000, SG_DXFER_FROM_DEV,
         {0x3C, 0x02, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"dump", &SgIoTransport::DumpFirmwareChunk, into.data(), 0, 0x4000, SG_DXFER_FROM_DEV,
         {0x3C, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        bench.Machine.ClearCalls();
        EXPECT_EQ((transport->*c.Operation)(c.Buffer, c.BufferId, c.Offset, 0x4000), 1);
        const ScsiCall& call = OnlyCall();
        EXPECT_EQ(call.Node, "/dev/sg0");
        EXPECT_EQ(call.Cdb, c.Cdb);
        EXPECT_EQ(call.Header.interface_id, 'S');
        EXPECT_EQ(call.Header.dxfer_direction, c.Direction);
        EXPECT_EQ(call.Header.cmd_len, 10);
        EXPECT_EQ(call.Header.dxfer_len, 0x4000u);
        EXPECT_EQ(call.Header.dxferp, c.Buffer);   // no copy of the transport's own
        EXPECT_EQ(call.Header.mx_sb_len, 24);
        EXPECT_NE(call.Header.sbp, nullptr);
        EXPECT_EQ(call.Header.timeout, 256000u);
    }
    // The read-back returned what was written; the dump returned the flash.
    EXPECT_EQ(std::memcmp(into.data(), drive->Flash() + 0x4000, 0x4000), 0);
    ASSERT_EQ(drive->LogSize(), 3u);
}

TEST_F(SgIoCommands, CommitSendsNoData) {
    Open();
    // The drive commits only what it received.
    Bytes chunk(0x4000, 0x3C);
    ASSERT_EQ(transport->WriteFirmwareChunk(chunk.data(), 0, 0, 0x4000), 1);
    bench.Machine.ClearCalls();
    EXPECT_EQ(transport->CommitFirmware(), 1);
    const ScsiCall& call = OnlyCall();
    EXPECT_EQ(call.Node, "/dev/sg0");
    EXPECT_EQ(call.Cdb, (Bytes{0x3B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(call.Header.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(call.Header.dxfer_len, 0u);
    EXPECT_EQ(call.Header.dxferp, nullptr);
    EXPECT_EQ(call.Header.mx_sb_len, 24);
    EXPECT_NE(call.Header.sbp, nullptr);
    EXPECT_EQ(call.Header.timeout, 256000u);
    EXPECT_EQ(drive->CommitCount(), 1u);
}

TEST_F(SgIoCommands, EveryChunkCommandFailsOnAnyNoiseAndReadsOnAShortTransfer) {
    Open();
    Bytes buffer(0x4000, 0x5A);
    struct Outcome {
        const char* Name;
        SimulatedLinuxMachine::ForcedOutcome Forced;
        int Write, ReadBack, Dump, Commit;   // expected results
    };
    const Outcome outcomes[] = {
        {"good", {true, 0, 0, 0, false, 0}, 1, 1, 1, 1},
        {"check condition", {true, 0x02, 0, 0, false, 0}, 0, 0, 0, 0},
        {"busy status", {true, 0x08, 0, 0, false, 0}, 0, 0, 0, 0},
        {"host status", {true, 0, 0x07, 0, false, 0}, 0, 0, 0, 0},
        {"driver status", {true, 0, 0, 0x08, false, 0}, 0, 0, 0, 0},
        // A residual means the data did not all arrive: reads fail, writes do not look at it.
        {"residual", {true, 0, 0, 0, true, 512}, 1, 0, 0, 1},
        {"negative residual", {true, 0, 0, 0, true, -1}, 1, 0, 0, 1},
    };
    for (const Outcome& o : outcomes) {
        SCOPED_TRACE(o.Name);
        bench.Machine.Force(o.Forced);
        EXPECT_EQ(transport->WriteFirmwareChunk(buffer.data(), 0, 0, 0x4000), o.Write);
        EXPECT_EQ(transport->ReadBackChunk(buffer.data(), 0, 0, 0x4000), o.ReadBack);
        EXPECT_EQ(transport->DumpFirmwareChunk(buffer.data(), 0, 0, 0x4000), o.Dump);
        EXPECT_EQ(transport->CommitFirmware(), o.Commit);
        // A drive's answer is no error of the system.
        EXPECT_EQ(transport->LastError(), 0);
    }
}

TEST_F(SgIoCommands, InquiryNeedsAGoodStatusAndTheIdentityOnlyItsContent) {
    struct Case {
        const char* Name;
        SimulatedLinuxMachine::ForcedOutcome Forced;
        bool Listed;
    };
    const Case cases[] = {
        {"good", {true, 0, 0, 0, false, 0}, true},
        {"host status", {true, 0, 0x07, 0, false, 0}, false},
        {"check condition", {true, 0x02, 0, 0, false, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        bench.Machine.Force(c.Forced);
        DeviceList list;
        transport->EnumerateDevices(list);
        EXPECT_EQ(list.Count(), c.Listed ? 1u : 0u);
    }
}

TEST_F(SgIoCommands, ASystemErrorIsKeptWithItsNodeAndTheNextCommandIsSentAgain) {
    Open();
    Bytes buffer(0x4000, 0);
    bench.Machine.FailScsi("/dev/sg0", EIO);
    EXPECT_EQ(transport->DumpFirmwareChunk(buffer.data(), 0, 0, 0x4000), 0);
    EXPECT_EQ(transport->LastError(), EIO);
    EXPECT_EQ(transport->LastErrorNode(), "/dev/sg0");
    EXPECT_EQ(transport->DumpFirmwareChunk(buffer.data(), 0, 0, 0x4000), 0);
    EXPECT_EQ(bench.Machine.ScsiCalls().size(), 2u);
    bench.Machine.FailScsi("/dev/sg0", 0);
    EXPECT_EQ(transport->DumpFirmwareChunk(buffer.data(), 0, 0, 0x4000), 1);
}

TEST_F(SgIoCommands, ARefusalForWantOfPrivilegeIsSentOnceAndRemembered) {
    Open();
    Bytes buffer(0x4000, 0);
    bench.Machine.FailScsi("/dev/sg0", EPERM);
    EXPECT_EQ(transport->WriteFirmwareChunk(buffer.data(), 0, 0, 0x4000), 0);
    EXPECT_EQ(transport->WriteFirmwareChunk(buffer.data(), 0, 0, 0x4000), 0);
    EXPECT_EQ(transport->ReadBackChunk(buffer.data(), 0, 0, 0x4000), 0);
    EXPECT_EQ(transport->CommitFirmware(), 0);
    EXPECT_EQ(bench.Machine.ScsiCalls().size(), 1u);
    EXPECT_EQ(transport->LastError(), EPERM);
    // A new open starts afresh.
    bench.Machine.FailScsi("/dev/sg0", 0);
    transport->CloseDevice();
    ASSERT_NE(transport->OpenDevice(record), 0);
    EXPECT_EQ(transport->LastError(), 0);
    EXPECT_EQ(transport->WriteFirmwareChunk(buffer.data(), 0, 0, 0x4000), 1);
}

// What the kernel's answer says of a failed command: its cause, the sense in either format, and
// whether every later command of the open would meet it too (then none is sent).
TEST_F(SgIoCommands, AFailureKeepsItsCauseAndSenseAndTheLastingOnesAreNotSentAgain) {
    using Cause = TransportFailure::Cause;
    struct Case {
        const char* Name;
        SimulatedLinuxMachine::ForcedOutcome Forced;
        int Error;   // the ioctl's errno instead of a forced outcome
        Cause Why;
        uint8_t Key, Asc, Ascq;
        bool Lasting;
    };
    SimulatedLinuxMachine::ForcedOutcome unitAttention{true, 0x02, 0, 0, false, 0, false, 0x06, 0x29, 0x00, false};
    SimulatedLinuxMachine::ForcedOutcome descriptor{true, 0x02, 0, 0, false, 0, false, 0x02, 0x04, 0x01, true};
    SimulatedLinuxMachine::ForcedOutcome busy{true, 0x08, 0, 0, false, 0, false, 0, 0, 0, false};
    SimulatedLinuxMachine::ForcedOutcome timedOut{true, 0, 0x03, 0, false, 0, true, 0, 0, 0, false};
    SimulatedLinuxMachine::ForcedOutcome driverTimeOut{true, 0, 0, 0x06, false, 0, true, 0, 0, 0, false};
    SimulatedLinuxMachine::ForcedOutcome noConnect{true, 0, 0x01, 0, false, 0, true, 0, 0, 0, false};
    SimulatedLinuxMachine::ForcedOutcome badTarget{true, 0, 0x04, 0, false, 0, true, 0, 0, 0, false};
    SimulatedLinuxMachine::ForcedOutcome failFast{true, 0, 0x0F, 0, false, 0, true, 0, 0, 0, false};
    SimulatedLinuxMachine::ForcedOutcome hostError{true, 0, 0x07, 0, false, 0, false, 0, 0, 0, false};
    const Case cases[] = {
        {"unit attention", unitAttention, 0, Cause::Answered, 0x06, 0x29, 0x00, false},
        {"descriptor sense", descriptor, 0, Cause::Answered, 0x02, 0x04, 0x01, false},
        {"busy", busy, 0, Cause::Answered, 0, 0, 0, false},
        {"host time-out", timedOut, 0, Cause::TimedOut, 0, 0, 0, true},
        {"driver time-out", driverTimeOut, 0, Cause::TimedOut, 0, 0, 0, true},
        {"no connection", noConnect, 0, Cause::Gone, 0, 0, 0, true},
        {"bad target", badTarget, 0, Cause::Gone, 0, 0, 0, true},
        {"transport failfast", failFast, 0, Cause::Gone, 0, 0, 0, true},
        {"host error", hostError, 0, Cause::Failed, 0, 0, 0, false},
        {"node gone", {}, ENODEV, Cause::Gone, 0, 0, 0, true},
        {"block node gone", {}, ENXIO, Cause::Gone, 0, 0, 0, true},
        {"refused", {}, EPERM, Cause::Refused, 0, 0, 0, true},
        {"input/output error", {}, EIO, Cause::Unknown, 0, 0, 0, false},
        {"interrupted", {}, EINTR, Cause::Unknown, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Open();
        Bytes buffer(0x4000, 0);
        bench.Machine.Force(c.Forced);
        bench.Machine.FailScsi("/dev/sg0", c.Error);
        bench.Machine.ClearCalls();
        EXPECT_EQ(transport->WriteFirmwareChunk(buffer.data(), 0, 0, 0x4000), 0);
        const TransportFailure failure = transport->LastFailure();
        EXPECT_EQ(failure.Why, c.Why);
        EXPECT_EQ(failure.Error, c.Error);
        EXPECT_EQ(failure.Node, "/dev/sg0");
        EXPECT_EQ(failure.SenseKey, c.Key);
        EXPECT_EQ(failure.Asc, c.Asc);
        EXPECT_EQ(failure.Ascq, c.Ascq);
        EXPECT_EQ(failure.Status, c.Error != 0 ? 0 : c.Forced.Status);
        EXPECT_EQ(failure.HostStatus, c.Forced.HostStatus);
        EXPECT_EQ(failure.Lasting, c.Lasting);
        EXPECT_EQ(failure.WantsPause(), c.Key == 0x06 || (c.Key == 0x02 && c.Asc == 0x04 && c.Ascq == 0x01));
        // The next command: a lasting failure again without a call, anything else sent.
        bench.Machine.Force({});
        bench.Machine.FailScsi("/dev/sg0", 0);
        EXPECT_EQ(transport->DumpFirmwareChunk(buffer.data(), 0, 0, 0x4000), c.Lasting ? 0 : 1);
        EXPECT_EQ(bench.Machine.ScsiCalls().size(), c.Lasting ? 1u : 2u);
        if (c.Lasting) {
            EXPECT_EQ(transport->LastFailure().Why, c.Why);
        }
        // Sent again unless lasting, and answered by a drive without a disc.
        EXPECT_EQ(transport->TestUnitReady(), 0);
        EXPECT_EQ(transport->LastFailure().Asc, c.Lasting ? c.Asc : 0x3A);
        transport->CloseDevice();
    }
}

TEST_F(SgIoCommands, TheTimeOutAndTheObserverSeeEveryCommand) {
    struct Seen final : SgIoTransport::Observer {
        std::vector<std::string> Lines;
        void CommandDone(const SgIoTransport::Exchanged& c) override {
            Lines.push_back(std::to_string(c.Cdb.Bytes[0]) + " " + std::to_string(c.Direction) + " " +
                            std::to_string(c.Length) + " " + std::to_string(c.Error) + " " +
                            std::to_string(c.Header.timeout) + " " + std::to_string(c.Header.status));
        }
    } seen;
    Open();
    transport->SetTimeOut(5000);
    transport->SetObserver(&seen);
    Bytes buffer(0x4000, 0);
    EXPECT_EQ(transport->TestUnitReady(), 0) << "no disc in the drive";
    EXPECT_EQ(transport->DumpFirmwareChunk(buffer.data(), 0, 0, 0x4000), 1);
    bench.Machine.FailScsi("/dev/sg0", EIO);
    EXPECT_EQ(transport->CommitFirmware(), 0);
    transport->SetObserver(nullptr);
    EXPECT_EQ(transport->TestUnitReady(), 0);
    EXPECT_EQ(seen.Lines, (std::vector<std::string>{"0 -1 0 0 5000 2", "60 -3 16384 0 5000 0", "59 -1 0 5 5000 0"}));
    EXPECT_EQ(bench.Machine.ScsiCalls().back().Cdb, (Bytes{0, 0, 0, 0, 0, 0}));
}

}  // namespace
