// AspiTransport against the simulated ASPI manager: loading and releasing the manager's library,
// the adapter and target scan, the request blocks of the six commands, and completions that arrive
// late from another thread. Every command goes on to an EmulatedDrive, which refuses wrong bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "tests/support/simulated/SimulatedAspiManager.h"
#include "transport/AspiTransport.h"

namespace {

using emulator::DriveConfig;
using emulator::EmulatedDrive;

struct TestDrive {
    explicit TestDrive(const DriveConfig& config)
        : Flash(config.flashSize, 0xA5), Staging(config.flashSize, 0), Drive(config, Flash.data(), Staging.data()) {}
    std::vector<uint8_t> Flash;
    std::vector<uint8_t> Staging;
    EmulatedDrive Drive;
};

DriveConfig Config(const char* product, uint16_t controller = 0x6E15, uint16_t major = 1, uint16_t minor = 2) {
    DriveConfig config;
    config.SetVendor("EMU");
    config.SetProduct(product);
    config.controllerId = controller;
    config.versionMajor = major;
    config.versionMinor = minor;
    config.flashSize = 0x20000;
    return config;
}

bool AllZero(const void* bytes, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < length; ++i) {
        if (p[i] != 0) return false;
    }
    return true;
}

// The blocks are packed: the assertions take their wider fields by value, never by reference.
template <typename T>
T Unpacked(T value) {
    return value;
}

bool IsZeroRecord(const DeviceRecord& record) {
    return AllZero(&record, sizeof record);
}

std::vector<const SimulatedAspiManager::ReceivedBlock*> Blocks(const SimulatedAspiManager& api, uint8_t command) {
    std::vector<const SimulatedAspiManager::ReceivedBlock*> blocks;
    for (const auto& block : api.Received()) {
        if (block.Command == command) blocks.push_back(&block);
    }
    return blocks;
}

// (adapter, target, opcode) of every SCSI request, in the order sent.
std::vector<std::vector<int>> Probes(const SimulatedAspiManager& api) {
    std::vector<std::vector<int>> probes;
    for (const auto* block : Blocks(api, SC_EXEC_SCSI_CMD)) {
        const SRB_ExecSCSICmd& request = block->ScsiRequest;
        probes.push_back({request.SRB_HaId, request.SRB_Target, request.CDBByte[0]});
    }
    return probes;
}

class AspiTransportTest : public ::testing::Test {
protected:
    SimulatedAspiManager manager;
    std::deque<TestDrive> drives;

    EmulatedDrive& Place(uint8_t adapter, uint8_t target, const DriveConfig& config) {
        drives.emplace_back(config);
        manager.AttachDrive(adapter, target, &drives.back().Drive);
        return drives.back().Drive;
    }

};

TEST_F(AspiTransportTest, ConstructionLoadsTheManagerAndReleasesAnUnusableOneAtOnce) {
    struct Case {
        const char* name;
        bool present, supportInfoEntry, sendCommandEntry;
        uint8_t status, adapters;
        int usable;
        uint32_t adapterCount;
        int loads, freesAfterConstruction, supportInfoCalls;
    };
    const Case cases[] = {
        {"library absent", false, true, true, 0x01, 2, 0, 0, 0, 0, 0},
        {"no SendASPI32Command", true, true, false, 0x01, 2, 0, 0, 1, 1, 0},
        {"no GetASPI32SupportInfo", true, false, true, 0x01, 2, 0, 0, 1, 1, 0},
        {"no adapters status", true, true, true, 0xE8, 0, 0, 0, 1, 1, 1},
        {"failed init status", true, true, true, 0xE4, 3, 0, 0, 1, 1, 1},
        {"pending status", true, true, true, 0x00, 3, 0, 0, 1, 1, 1},
        {"ready without adapters", true, true, true, 0x01, 0, 1, 0, 1, 0, 1},
        {"ready with 3 adapters", true, true, true, 0x01, 3, 1, 3, 1, 0, 1},
        {"ready with 255 adapters", true, true, true, 0x01, 255, 1, 255, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedAspiManager api;
        api.LibraryPresent = c.present;
        api.HasSupportInfoEntry = c.supportInfoEntry;
        api.HasSendCommandEntry = c.sendCommandEntry;
        api.SupportStatus = c.status;
        api.ReportedAdapterCount = c.adapters;

        DriveTransport* transport = new AspiTransport(api);
        EXPECT_EQ(transport->Usable, c.usable);
        EXPECT_EQ(transport->AdapterCount, c.adapterCount);
        EXPECT_TRUE(IsZeroRecord(transport->CurrentDevice));
        EXPECT_EQ(api.LoadedNames(), std::vector<std::string>{"wnaspi32.dll"});
        EXPECT_EQ(api.Loads(), c.loads);
        EXPECT_EQ(api.Frees(), c.freesAfterConstruction);
        EXPECT_EQ(api.SupportInfoCalls(), c.supportInfoCalls);
        // Both entry points are looked up, even when the first is missing.
        const std::vector<std::string> both = {"GetASPI32SupportInfo", "SendASPI32Command"};
        EXPECT_EQ(api.LookedUpNames(), c.present ? both : std::vector<std::string>{});

        if (!c.usable) {
            // Nothing of a released library is ever called: every operation fails at once.
            DeviceList list;
            transport->EnumerateDevices(list);
            EXPECT_EQ(list.Count(), 0u);
            uint8_t chunk[16] = {};
            EXPECT_EQ(transport->InquireDevice(), 0);
            EXPECT_EQ(transport->IdentifyController(), 0);
            EXPECT_EQ(transport->ReadBackChunk(chunk, 0, 0, sizeof chunk), 0);
            EXPECT_EQ(transport->DumpFirmwareChunk(chunk, 0, 0, sizeof chunk), 0);
            EXPECT_EQ(transport->WriteFirmwareChunk(chunk, 0, 0, sizeof chunk), 0);
            EXPECT_EQ(transport->CommitFirmware(), 0);
            EXPECT_TRUE(api.Received().empty());
        }
        delete transport;
        EXPECT_EQ(api.Frees(), c.loads);  // exactly once, whoever released it
        EXPECT_EQ(api.BadFrees(), 0);
        EXPECT_EQ(api.CallsWhileUnloaded(), 0);
    }
}

TEST_F(AspiTransportTest, TargetCountComesFromByteThreeOfHaUniqueWithZeroMeaningEight) {
    struct Case {
        uint8_t haUniqueByte3;
        int probed;
    };
    for (const Case c : {Case{0, 8}, Case{16, 16}, Case{2, 2}, Case{1, 1}}) {
        SCOPED_TRACE(c.haUniqueByte3);
        SimulatedAspiManager api;
        api.ReportedAdapterCount = 1;
        api.SetAdapterAnswer(0, SS_COMP, c.haUniqueByte3);
        TestDrive last(Config("LAST PROBED"));
        TestDrive beyond(Config("NEVER PROBED"));
        api.AttachDrive(0, static_cast<uint8_t>(c.probed - 1), &last.Drive);
        api.AttachDrive(0, static_cast<uint8_t>(c.probed), &beyond.Drive);

        AspiTransport transport(api);
        DeviceList list;
        transport.EnumerateDevices(list);

        std::vector<int> inquired;
        for (const auto& block : api.Received()) {
            if (block.Command == SC_EXEC_SCSI_CMD && block.ScsiRequest.CDBByte[0] == 0x12) {
                inquired.push_back(block.ScsiRequest.SRB_Target);
            }
        }
        std::vector<int> expected;
        for (int t = 0; t < c.probed; ++t) expected.push_back(t);
        EXPECT_EQ(inquired, expected);
        ASSERT_EQ(list.Count(), 1u);
        EXPECT_EQ(list.At(0)->TargetId, c.probed - 1);
        EXPECT_EQ(beyond.Drive.CommandCount(), 0u);
    }
}

TEST_F(AspiTransportTest, AdaptersWhoseInquiryDoesNotCompleteAreSkipped) {
    struct Case {
        const char* name;
        std::vector<uint8_t> statuses;  // one per adapter
        std::vector<std::vector<int>> probes;
    };
    const int I = 0x12, R = 0x3C;
    const Case cases[] = {
        {"no adapters", {}, {}},
        {"first adapter invalid", {SS_INVALID_HA, SS_COMP}, {{1, 0, I}, {1, 1, I}, {1, 1, R}}},
        // An adapter that failed its inquiry gets no count, not the previous adapter's.
        {"middle adapter failed", {SS_COMP, SS_ERR, SS_COMP},
         {{0, 0, I}, {0, 1, I}, {0, 1, R}, {2, 0, I}, {2, 1, I}, {2, 1, R}}},
        {"middle adapter never completed", {SS_COMP, SS_PENDING, SS_COMP},
         {{0, 0, I}, {0, 1, I}, {0, 1, R}, {2, 0, I}, {2, 1, I}, {2, 1, R}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedAspiManager api;
        api.ReportedAdapterCount = static_cast<uint8_t>(c.statuses.size());
        std::deque<TestDrive> placed;
        for (size_t a = 0; a < c.statuses.size(); ++a) {
            api.SetAdapterAnswer(static_cast<uint8_t>(a), c.statuses[a], 2);
            placed.emplace_back(Config("DRIVE"));
            api.AttachDrive(static_cast<uint8_t>(a), 1, &placed.back().Drive);
        }

        AspiTransport transport(api);
        DeviceList list;
        transport.EnumerateDevices(list);

        const auto inquiries = Blocks(api, SC_HA_INQUIRY);
        ASSERT_EQ(inquiries.size(), c.statuses.size());
        for (size_t a = 0; a < inquiries.size(); ++a) {
            const SRB_HAInquiry& inquiry = inquiries[a]->HostAdapterInquiry;
            EXPECT_EQ(inquiry.SRB_Cmd, 0);
            EXPECT_EQ(inquiry.SRB_Status, 0);
            EXPECT_EQ(inquiry.SRB_HaId, a);
            EXPECT_EQ(inquiry.SRB_Flags, 0);
            EXPECT_EQ(Unpacked(inquiry.SRB_Hdr_Rsvd), 0u);
            EXPECT_TRUE(AllZero(reinterpret_cast<const uint8_t*>(&inquiry) + 8, sizeof inquiry - 8));
        }
        EXPECT_EQ(Probes(api), c.probes);
        EXPECT_TRUE(IsZeroRecord(transport.CurrentDevice));
    }
}

TEST_F(AspiTransportTest, ScanListsAcceptedDrivesInOrderAndGoesOnPastRejectedOnes) {
    manager.ReportedAdapterCount = 2;
    manager.SetAdapterAnswer(0, SS_COMP, 4);
    manager.SetAdapterAnswer(1, SS_COMP, 1);
    DriveConfig swapped = Config("SWAPPED MAKER");
    swapped.makerWord = 0x7C4A;
    Place(0, 0, swapped);
    DriveConfig disk = Config("DISK");
    disk.deviceType = 0x00;
    Place(0, 1, disk);
    Place(0, 2, Config("FIRST", 0x6E2A, 3, 4));
    Place(1, 0, Config("SECOND", 0x6E47, 5, 6));

    AspiTransport transport(manager);
    DeviceList list;
    DeviceRecord earlier;
    ClearDeviceRecord(earlier);
    earlier.TargetId = 9;
    list.Append(earlier);
    transport.EnumerateDevices(list);

    const int I = 0x12, R = 0x3C;
    // Identity only after a passed INQUIRY; the target after a rejected identity is still probed.
    const std::vector<std::vector<int>> probes = {{0, 0, I}, {0, 0, R}, {0, 1, I}, {0, 2, I}, {0, 2, R}, {0, 3, I},
                                                  {1, 0, I}, {1, 0, R}};
    EXPECT_EQ(Probes(manager), probes);

    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.At(0)->TargetId, 9);  // appended to, never cleared
    struct Expected {
        uint8_t path, target;
        const char* product;
        uint16_t controller, major, minor;
        uint32_t flashSize;
    };
    const Expected expected[] = {{0, 2, "FIRST           ", 0x6E2A, 3, 4, 0x80000},
                                 {1, 0, "SECOND          ", 0x6E47, 5, 6, 0x40000}};
    for (size_t i = 0; i < 2; ++i) {
        const DeviceRecord& record = *list.At(i + 1);
        EXPECT_EQ(record.PortNumber, 0);
        EXPECT_EQ(record.PathId, expected[i].path);
        EXPECT_EQ(record.TargetId, expected[i].target);
        EXPECT_EQ(record.Lun, 0);
        EXPECT_EQ(record.ControllerId, expected[i].controller);
        EXPECT_EQ(record.VersionMajor, expected[i].major);
        EXPECT_EQ(record.VersionMinor, expected[i].minor);
        EXPECT_EQ(record.FlashSize, expected[i].flashSize);
        EXPECT_STREQ(record.Vendor, "EMU     ");
        EXPECT_STREQ(record.Product, expected[i].product);
        EXPECT_TRUE(AllZero(record.DosDeviceName, sizeof record.DosDeviceName));
    }
    EXPECT_TRUE(IsZeroRecord(transport.CurrentDevice));
}

TEST_F(AspiTransportTest, EveryFieldOfTheSixRequestBlocks) {
    manager.ReportedAdapterCount = 3;
    EmulatedDrive& drive = Place(2, 5, Config("BLOCKS"));
    AspiTransport transport(manager);
    DeviceRecord record;
    ClearDeviceRecord(record);
    record.PathId = 2;
    record.TargetId = 5;
    ASSERT_EQ(transport.OpenDevice(record), 1);

    std::vector<uint8_t> chunk(0x4000);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<uint8_t> readBack(0x4000, 0);
    std::vector<uint8_t> dumped(0x4000, 0);

    enum Buffer { Answer, Caller, None };
    struct Case {
        const char* name;
        std::function<int()> run;
        uint8_t flags;
        uint32_t bufLen;
        Buffer buffer;
        const uint8_t* callerBuffer;
        std::vector<uint8_t> cdb;
    };
    const std::vector<Case> cases = {
        {"InquireDevice", [&] { return transport.InquireDevice(); }, 0x08, 100, Answer, nullptr,
         {0x12, 0x00, 0x00, 0x00, 0x64, 0x00}},
        // After INQUIRY filled the answer buffer: it arrives cleared again.
        {"IdentifyController", [&] { return transport.IdentifyController(); }, 0x08, 100, Answer, nullptr,
         {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00}},
        {"WriteFirmwareChunk", [&] { return transport.WriteFirmwareChunk(chunk.data(), 1, 0xC000, 0x4000); }, 0x10,
         0x4000, Caller, chunk.data(), {0x3B, 0x07, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"ReadBackChunk", [&] { return transport.ReadBackChunk(readBack.data(), 1, 0xC000, 0x4000); }, 0x08, 0x4000,
         Caller, readBack.data(), {0x3C, 0x02, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"DumpFirmwareChunk", [&] { return transport.DumpFirmwareChunk(dumped.data(), 1, 0xC000, 0x4000); }, 0x08,
         0x4000, Caller, dumped.data(), {0x3C, 0x01, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x01}},
        {"CommitFirmware", [&] { return transport.CommitFirmware(); }, 0x10, 0, None, nullptr,
         {0x3B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = manager.Received().size();
        ASSERT_EQ(c.run(), 1);
        ASSERT_EQ(manager.Received().size(), before + 1);
        const SimulatedAspiManager::ReceivedBlock& received = manager.Received().back();
        const SRB_ExecSCSICmd& block = received.ScsiRequest;
        EXPECT_EQ(block.SRB_Cmd, 2);
        EXPECT_EQ(block.SRB_Status, 0);
        EXPECT_EQ(block.SRB_HaId, 2);
        EXPECT_EQ(block.SRB_Flags, c.flags);
        EXPECT_EQ(Unpacked(block.SRB_Hdr_Rsvd), 0u);
        EXPECT_EQ(block.SRB_Target, 5);
        EXPECT_EQ(block.SRB_Lun, 0);
        EXPECT_EQ(Unpacked(block.SRB_Rsvd1), 0);
        EXPECT_EQ(Unpacked(block.SRB_BufLen), c.bufLen);
        EXPECT_EQ(block.SRB_SenseLen, 14);
        EXPECT_EQ(block.SRB_CDBLen, c.cdb.size());
        EXPECT_EQ(block.SRB_HaStat, 0);
        EXPECT_EQ(block.SRB_TargStat, 0);
        EXPECT_EQ(Unpacked(block.SRB_PostProc), nullptr);
        EXPECT_TRUE(AllZero(block.SRB_Rsvd2, sizeof block.SRB_Rsvd2));
        std::vector<uint8_t> cdb(block.CDBByte, block.CDBByte + sizeof block.CDBByte);
        std::vector<uint8_t> expectedCdb = c.cdb;
        expectedCdb.resize(sizeof block.CDBByte, 0);
        EXPECT_EQ(cdb, expectedCdb);
        EXPECT_TRUE(AllZero(block.SenseArea, sizeof block.SenseArea));
        switch (c.buffer) {
        case Answer:
            ASSERT_NE(Unpacked(block.SRB_BufPointer), nullptr);
            EXPECT_TRUE(received.BufferWasZero);
            break;
        case Caller:
            EXPECT_EQ(Unpacked(block.SRB_BufPointer), c.callerBuffer);
            break;
        case None:
            EXPECT_EQ(Unpacked(block.SRB_BufPointer), nullptr);
            break;
        }
        EXPECT_EQ(received.FinalStatus, SS_COMP);
    }
    // Nothing copied in between: the drive's answers are in the caller's own buffers.
    EXPECT_EQ(readBack, chunk);
    EXPECT_EQ(dumped, std::vector<uint8_t>(0x4000, 0xA5));
    EXPECT_EQ(std::vector<uint8_t>(drives.back().Flash.begin() + 0x1C000, drives.back().Flash.end()), chunk);
    EXPECT_EQ(drive.CommandCount(), 6u);
    EXPECT_EQ(transport.CurrentDevice.ControllerId, 0x6E15);
}

TEST_F(AspiTransportTest, OnlySsCompIsSuccessAndAFailedQueryChangesNothing) {
    manager.ReportedAdapterCount = 1;
    Place(0, 3, Config("STATUS"));
    for (const uint8_t status : {SS_ERR, SS_ABORTED, SS_INVALID_HA, SS_NO_DEVICE, SS_INVALID_SRB, uint8_t{0x05}}) {
        SCOPED_TRACE(static_cast<int>(status));
        manager.ForcedStatus = status;
        AspiTransport transport(manager);
        DeviceRecord record;
        ClearDeviceRecord(record);
        record.TargetId = 3;
        record.ControllerId = 0x1111;
        record.FlashSize = 77;
        ASSERT_EQ(transport.OpenDevice(record), 1);
        std::vector<uint8_t> buffer(0x4000, 0x3C);

        EXPECT_EQ(transport.InquireDevice(), 0);
        EXPECT_EQ(transport.IdentifyController(), 0);
        EXPECT_EQ(std::memcmp(&transport.CurrentDevice, &record, sizeof record), 0);
        EXPECT_EQ(transport.WriteFirmwareChunk(buffer.data(), 0, 0, 0x4000), 0);
        EXPECT_EQ(transport.ReadBackChunk(buffer.data(), 0, 0, 0x4000), 0);
        EXPECT_EQ(transport.DumpFirmwareChunk(buffer.data(), 0, 0, 0x4000), 0);
        EXPECT_EQ(transport.CommitFirmware(), 0);
    }
}

TEST_F(AspiTransportTest, IdentityAnsweredWithCheckConditionAndValidDataIsRejected) {
    EmulatedDrive& drive = Place(0, 0, Config("CHECKED"));
    drive.SetIdentityCheckWithData(true);
    AspiTransport transport(manager);
    DeviceList list;
    transport.EnumerateDevices(list);
    EXPECT_EQ(list.Count(), 0u);
    ASSERT_EQ(drive.LogSize(), 2u);
    EXPECT_EQ(drive.LogAt(1)->status, EmulatedDrive::StatusCheckCondition);
    EXPECT_EQ(manager.Received().back().FinalStatus, SS_ERR);

    DeviceRecord record;
    ClearDeviceRecord(record);
    transport.OpenDevice(record);
    EXPECT_EQ(transport.IdentifyController(), 0);
    EXPECT_EQ(transport.CurrentDevice.ControllerId, 0);
    EXPECT_EQ(transport.CurrentDevice.FlashSize, 0u);
}

TEST_F(AspiTransportTest, OpenDeviceSucceedsForADriveThatNoLongerAnswersAndItsFirstCommandFails) {
    manager.ReportedAdapterCount = 2;
    Place(0, 0, Config("GONE")).SetGone(true);
    AspiTransport transport(manager);
    std::vector<uint8_t> chunk(0x4000, 0x11);
    for (const uint8_t target : {uint8_t{0}, uint8_t{6}}) {  // a gone drive, and nothing at all
        SCOPED_TRACE(static_cast<int>(target));
        DeviceRecord record;
        ClearDeviceRecord(record);
        record.TargetId = target;
        record.FlashSize = 0x20000;
        const size_t before = manager.Received().size();
        EXPECT_EQ(transport.OpenDevice(record), 1);
        transport.CloseDevice();
        EXPECT_EQ(manager.Received().size(), before);  // neither sends anything
        EXPECT_EQ(std::memcmp(&transport.CurrentDevice, &record, sizeof record), 0);
        EXPECT_EQ(transport.WriteFirmwareChunk(chunk.data(), 0, 0, 0x4000), 0);
    }
}

TEST_F(AspiTransportTest, CompletionsArrivingLateFromAnotherThreadAreWaitedFor) {
    manager.CompleteLater = true;
    manager.ReportedAdapterCount = 2;
    manager.SetAdapterAnswer(1, SS_COMP, 2);
    Place(0, 1, Config("EARLY"));
    Place(1, 0, Config("LATE")).FailCommand(EmulatedDrive::Kind::WriteChunk, 0x18000, 1);

    auto transport = std::make_unique<AspiTransport>(manager);
    DeviceList list;
    transport->EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_STREQ(list.At(1)->Product, "LATE            ");

    ASSERT_EQ(transport->OpenDevice(*list.At(1)), 1);
    std::vector<uint8_t> chunk(0x4000);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>((i >> 8) ^ i);
    std::vector<uint8_t> readBack(0x4000, 0), dumped(0x4000, 0);
    EXPECT_EQ(transport->WriteFirmwareChunk(chunk.data(), 1, 0x8000, 0x4000), 0);  // a late failure fails
    ASSERT_EQ(transport->WriteFirmwareChunk(chunk.data(), 1, 0x8000, 0x4000), 1);
    ASSERT_EQ(transport->ReadBackChunk(readBack.data(), 1, 0x8000, 0x4000), 1);
    ASSERT_EQ(transport->CommitFirmware(), 1);
    ASSERT_EQ(transport->DumpFirmwareChunk(dumped.data(), 1, 0x8000, 0x4000), 1);
    EXPECT_EQ(readBack, chunk);
    EXPECT_EQ(dumped, chunk);

    for (const auto* block : Blocks(manager, SC_EXEC_SCSI_CMD)) EXPECT_EQ(block->StatusOnReturn, SS_PENDING);
    for (const auto* block : Blocks(manager, SC_HA_INQUIRY)) EXPECT_EQ(block->StatusOnReturn, SS_COMP);
    transport.reset();
    EXPECT_EQ(manager.Frees(), 1);
    EXPECT_EQ(manager.CallsWhileUnloaded(), 0);
}

}  // namespace
