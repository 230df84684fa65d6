// The pass-through envelope of every command, the open, and the success rules, on a simulated NT
// machine whose drive is an EmulatedDrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/PassThroughBench.h"
#include "transport/OsVersionInfo.h"

namespace {

using emulator::EmulatedDrive;
using Call = SimulatedNtMachine::Call;
using Kind = SimulatedNtMachine::CallKind;
using Bytes = std::vector<uint8_t>;

// Sizes that depend on the pointer width: the 32-bit program's literal where that is what this
// build is; a 64-bit build checks the same quantity as its own structures place it.
uint32_t OnThisTarget(uint32_t on32Bit, size_t derived) {
    return sizeof(void*) == 4 ? on32Bit : static_cast<uint32_t>(derived);
}

Bytes CdbOf(const Call& call) {
    return Bytes(call.Request.Cdb, call.Request.Cdb + sizeof call.Request.Cdb);
}

Bytes Padded(Bytes cdb) {
    cdb.resize(16, 0);
    return cdb;
}

class PassThroughCommands : public ::testing::Test {
protected:
    PassThroughBench bench;
    EmulatedDrive* drive = nullptr;
    PassThroughTransport* transport = nullptr;

    void SetUp() override {
        bench.AddPort(0, {0, 4});
        bench.AddUnit(0, 1, 3, "CdRom0");
        drive = &bench.AddDrive("\\Device\\CdRom0", 0, 1, 3, "E:");
        for (size_t i = 0; i < 0x20000; ++i) drive->Flash()[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        drive->ResetStaging();
        transport = &bench.Start();
    }

    DeviceRecord Listed() {
        transport->EnumerateDevices(bench.List);
        EXPECT_EQ(bench.List.Count(), 1u);
        return bench.List.Count() != 0 ? *bench.List.At(0) : DeviceRecord{};
    }

    std::vector<Call> PassThroughCalls() const {
        std::vector<Call> calls;
        for (const Call& call : bench.Machine.CallsOf(Kind::DeviceControl)) {
            if (call.HasEnvelope) calls.push_back(call);
        }
        return calls;
    }

    static void ExpectCommonEnvelope(const Call& call) {
        EXPECT_TRUE(call.SameBuffer);
        EXPECT_EQ(call.Request.PathId, 1);
        EXPECT_EQ(call.Request.TargetId, 3);
        EXPECT_EQ(call.Request.Lun, 0);
        EXPECT_EQ(call.Request.SenseInfoLength, 24);
        EXPECT_EQ(call.Request.TimeOutValue, 256u);
    }
};

TEST_F(PassThroughCommands, IdentificationTravelsBufferedWithItsOwnLengths) {
    Listed();
    struct Expected {
        uint32_t input, output, transfer;
        Bytes cdb;
        uint8_t opcode;
    };
    const Expected expected[] = {
        {OnThisTarget(44, sizeof(ScsiPassThrough)), OnThisTarget(592, offsetof(PassThroughCommandArea, Data) + 512),
         512, {0x12, 0x00, 0x00, 0x00, 0xC0, 0x00}, 0x12},
        {OnThisTarget(80, offsetof(PassThroughCommandArea, Data)),
         OnThisTarget(272, offsetof(PassThroughCommandArea, Data) + 192), 192,
         {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00}, 0x3C},
    };
    const std::vector<Call> calls = PassThroughCalls();
    ASSERT_EQ(calls.size(), 2u);
    ASSERT_EQ(drive->LogSize(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const Call& call = calls[i];
        ExpectCommonEnvelope(call);
        EXPECT_EQ(call.ControlCode, 0x4D004u);
        EXPECT_FALSE(call.Request.Direct);
        EXPECT_EQ(call.InputLength, expected[i].input);
        EXPECT_EQ(call.OutputLength, expected[i].output);
        EXPECT_EQ(call.Request.Length, OnThisTarget(44, sizeof(ScsiPassThrough)));
        EXPECT_EQ(call.Request.SenseInfoOffset, OnThisTarget(48, offsetof(PassThroughCommandArea, Sense)));
        EXPECT_EQ(call.Request.DataBufferOffset, OnThisTarget(80, offsetof(PassThroughCommandArea, Data)));
        EXPECT_EQ(call.Request.DataIn, 1);
        EXPECT_EQ(call.Request.DataTransferLength, expected[i].transfer);
        EXPECT_EQ(call.Request.CdbLength, expected[i].cdb.size());
        EXPECT_EQ(CdbOf(call), Padded(expected[i].cdb));
        // The drive received the same bytes, with the stated room.
        EXPECT_EQ(drive->LogAt(static_cast<uint32_t>(i))->opcode, expected[i].opcode);
        EXPECT_EQ(drive->LogAt(static_cast<uint32_t>(i))->length, 192u);
        EXPECT_EQ(drive->LogAt(static_cast<uint32_t>(i))->hostDataLength, expected[i].transfer);
    }
}

TEST_F(PassThroughCommands, ChunksTravelInTheCallersBufferAndTheCommitWithNone) {
    const DeviceRecord record = Listed();
    ASSERT_NE(transport->OpenDevice(record), 0);
    bench.Machine.ClearCalls();
    drive->ClearLog();

    Bytes written(0x4000), readBack(0x4000, 0), dumped(0x4000, 0);
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 13 + 5);
    EXPECT_NE(transport->WriteFirmwareChunk(written.data(), 1, 0xC000, 0x4000), 0);
    EXPECT_NE(transport->ReadBackChunk(readBack.data(), 1, 0xC000, 0x4000), 0);
    EXPECT_NE(transport->DumpFirmwareChunk(dumped.data(), 0, 0x4000, 0x4000), 0);
    EXPECT_NE(transport->CommitFirmware(), 0);
    EXPECT_EQ(readBack, written);
    EXPECT_EQ(dumped, Bytes(drive->Flash() + 0x4000, drive->Flash() + 0x8000));

    struct Expected {
        uint8_t dataIn;
        const uint8_t* buffer;
        uint32_t length;
        Bytes cdb;
    };
    const Expected expected[] = {
        {0, written.data(), 0x4000, {0x3B, 0x07, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {1, readBack.data(), 0x4000, {0x3C, 0x02, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {1, dumped.data(), 0x4000, {0x3C, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x01}},
        {0, nullptr, 0, {0x3B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    };
    const std::vector<Call> calls = PassThroughCalls();
    ASSERT_EQ(calls.size(), 4u);
    ASSERT_EQ(drive->LogSize(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const Call& call = calls[i];
        ExpectCommonEnvelope(call);
        EXPECT_EQ(call.ControlCode, 0x4D014u);
        EXPECT_TRUE(call.Request.Direct);
        EXPECT_EQ(call.InputLength, OnThisTarget(80, sizeof(DirectCommandArea)));
        EXPECT_EQ(call.OutputLength, OnThisTarget(80, sizeof(DirectCommandArea)));
        EXPECT_EQ(call.Request.Length, OnThisTarget(44, sizeof(ScsiPassThroughDirect)));
        EXPECT_EQ(call.Request.SenseInfoOffset, OnThisTarget(48, offsetof(DirectCommandArea, Sense)));
        EXPECT_EQ(call.Request.DataIn, expected[i].dataIn);
        EXPECT_EQ(call.Request.DataBuffer, expected[i].buffer);
        EXPECT_EQ(call.Request.DataTransferLength, expected[i].length);
        EXPECT_EQ(call.Request.CdbLength, 10);
        EXPECT_EQ(CdbOf(call), Padded(expected[i].cdb));
        EXPECT_EQ(drive->LogAt(static_cast<uint32_t>(i))->hostDataLength, expected[i].length);
    }
    EXPECT_EQ(drive->CommitCount(), 1u);

    transport->CloseDevice();
    EXPECT_EQ(bench.Machine.HandlesOpened(), bench.Machine.HandlesClosed());
    EXPECT_EQ(bench.Machine.BadCloses(), 0);
}

TEST_F(PassThroughCommands, TheOpenAsksForWhatTheWindowsVersionNeeds) {
    struct Case {
        uint32_t major;
        uint32_t access;
        uint32_t sharing;
    };
    const DeviceRecord record = Listed();
    for (const Case& c : {Case{4, 0x80000000u, 0x1}, Case{5, 0xC0000000u, 0x3}, Case{6, 0xC0000000u, 0x3}}) {
        SCOPED_TRACE(c.major);
        OsVersionInfo.dwMajorVersion = c.major;
        bench.Machine.ClearCalls();
        const uint32_t commandsBefore = drive->CommandCount();

        ASSERT_NE(transport->OpenDevice(record), 0);
        const std::vector<Call> opens = bench.Machine.CallsOf(Kind::CreateDeviceFile);
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].Path, "\\\\.\\E:");
        EXPECT_EQ(opens[0].Access, c.access);
        EXPECT_EQ(opens[0].Sharing, c.sharing);
        EXPECT_EQ(opens[0].Disposition, 3u);
        EXPECT_EQ(opens[0].Flags, 0u);
        // Wine, like 2000, refuses pass-through on the read-only handle before the drive sees it.
        uint8_t chunk[16] = {};
        EXPECT_EQ(transport->WriteFirmwareChunk(chunk, 0, 0, sizeof chunk) != 0, c.major >= 5);
        EXPECT_EQ(drive->CommandCount() - commandsBefore, c.major >= 5 ? 1u : 0u);
        if (c.major < 5) {
            EXPECT_EQ(bench.Machine.LastError(), 5);
        }
        transport->CloseDevice();
    }
    EXPECT_EQ(bench.Machine.OpenHandles(), 0);
    EXPECT_EQ(bench.Machine.BadCloses(), 0);
}

TEST_F(PassThroughCommands, OnlyTheIdentityQueryLooksPastANonZeroScsiStatus) {
    ASSERT_NE(transport->OpenDevice(Listed()), 0);
    uint8_t buffer[0x100] = {};
    const std::function<int()> operations[] = {
        [&] { return transport->InquireDevice(); },
        [&] { return transport->IdentifyController(); },
        [&] { return transport->ReadBackChunk(buffer, 0, 0, sizeof buffer); },
        [&] { return transport->DumpFirmwareChunk(buffer, 0, 0, sizeof buffer); },
        [&] { return transport->WriteFirmwareChunk(buffer, 0, 0, sizeof buffer); },
        [&] { return transport->CommitFirmware(); },
    };
    // The drive completes every command with its data; the port reports these statuses anyway.
    for (const uint8_t status : {0x02, 0x08, 0x18}) {
        bench.Machine.ForceScsiStatus(status);
        for (size_t op = 0; op < 6; ++op) {
            SCOPED_TRACE(std::to_string(status) + " operation " + std::to_string(op));
            EXPECT_EQ(operations[op](), op == 1 ? 1 : 0);
        }
    }
    bench.Machine.StopForcingScsiStatus();

    // The family's quirk: identity with CHECK CONDITION and a valid block is accepted; CHECK
    // CONDITION without data leaves a zero block, which is not.
    transport->CurrentDevice.ControllerId = 0;
    drive->SetIdentityCheckWithData(true);
    EXPECT_NE(transport->IdentifyController(), 0);
    EXPECT_EQ(transport->CurrentDevice.ControllerId, 0x6E15);
    drive->ClearFaults();
    drive->FailCommand(EmulatedDrive::Kind::Identity, EmulatedDrive::AnyOffset, 1);
    EXPECT_EQ(transport->IdentifyController(), 0);

    // A request that never completes fails every operation, the identity query included.
    bench.Machine.RemoveDevice("\\Device\\CdRom0");
    for (size_t op = 0; op < 6; ++op) EXPECT_EQ(operations[op](), 0) << op;
    transport->CloseDevice();
}

TEST_F(PassThroughCommands, AChunkReadThatEndsEarlyIsAFailedAttempt) {
    ASSERT_NE(transport->OpenDevice(Listed()), 0);
    Bytes written(0x4000);
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 5 + 1);
    ASSERT_NE(transport->WriteFirmwareChunk(written.data(), 0, 0x8000, 0x4000), 0);
    const Bytes flash(drive->Flash() + 0x8000, drive->Flash() + 0xC000);
    using Read = std::function<int(uint8_t*)>;
    const struct {
        const char* what;
        Read read;
        const Bytes& sent;
    } reads[] = {
        {"read-back", [&](uint8_t* b) { return transport->ReadBackChunk(b, 0, 0x8000, 0x4000); }, written},
        {"dump", [&](uint8_t* b) { return transport->DumpFirmwareChunk(b, 0, 0x8000, 0x4000); }, flash},
    };
    // The port moves this many bytes fewer than asked and still reports GOOD.
    for (const uint32_t shortBy : {0u, 1u, 16u, 0x3FFFu, 0x4000u}) {
        bench.Machine.EndDataInEarly(shortBy);
        for (const auto& r : reads) {
            SCOPED_TRACE(std::string(r.what) + " short by " + std::to_string(shortBy));
            Bytes buffer(0x4000, 0xEE);
            EXPECT_EQ(r.read(buffer.data()), shortBy == 0 ? 1 : 0);
            const size_t moved = 0x4000 - shortBy;
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + moved, r.sent.begin()));
            EXPECT_EQ(Bytes(buffer.begin() + moved, buffer.end()), Bytes(shortBy, 0xEE)) << "never sent, kept";
        }
    }
    transport->CloseDevice();
    EXPECT_EQ(bench.Machine.OpenHandles(), 0);
}

TEST_F(PassThroughCommands, AFailedOpenReturnsZeroAndKeepsTheRecord) {
    const DeviceRecord listed = Listed();
    DeviceRecord unterminated = listed;
    std::memset(unterminated.DosDeviceName, 'E', sizeof unterminated.DosDeviceName);
    struct Case {
        const char* what;
        DeviceRecord record;
        std::function<void()> spoil;
        size_t opensTried;
    };
    const Case cases[] = {
        {"device gone", listed, [&] { bench.Machine.RemoveDevice("\\Device\\CdRom0"); }, 1},
        {"letter gone", listed, [&] { bench.Machine.RemoveDosName("E:"); }, 1},
        // \\.\ and 64 letters do not fit the 64-byte path: nothing is opened rather than a cut name.
        {"name without end", unterminated, [] {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.spoil();
        bench.Machine.ClearCalls();
        EXPECT_EQ(transport->OpenDevice(c.record), 0);
        EXPECT_EQ(std::memcmp(&transport->CurrentDevice, &c.record, sizeof c.record), 0);
        EXPECT_EQ(transport->DeviceHandle, NtStorageApi::InvalidHandle);
        EXPECT_EQ(bench.Machine.CallsOf(Kind::CreateDeviceFile).size(), c.opensTried);
    }
    EXPECT_EQ(bench.Machine.OpenHandles(), 0);
}

}  // namespace
