// What a SCSI port does around the emulated drive, as the simulated NT machine and the emulated
// port driver share it: which pass-through envelopes it refuses, what it hands back, and the
// layout of a port's inquiry data.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "emulator/scsiport/PassThroughRequestHandler.h"
#include "emulator/scsiport/PortInquiryData.h"
#include "transport/ScsiPassThrough.h"

namespace {

using emulator::EmulatedDrive;
using Handler = emulator::PassThroughRequestHandler;
using emulator::PortInquiryData;

constexpr uint32_t SenseAt = 64;
constexpr uint32_t DataAt = 96;

// A buffered INQUIRY envelope in a system buffer of ROOM bytes.
std::vector<uint8_t> Buffered(uint32_t room, uint32_t transfer, uint8_t dataIn = ScsiIoctlDataIn) {
    std::vector<uint8_t> system(room, 0);
    ScsiPassThrough request{};
    request.Length = sizeof request;
    request.CdbLength = 6;
    request.SenseInfoLength = 24;
    request.DataIn = dataIn;
    request.DataTransferLength = transfer;
    request.DataBufferOffset = DataAt;
    request.SenseInfoOffset = SenseAt;
    const uint8_t cdb[] = {0x12, 0, 0, 0, 36, 0};
    std::memcpy(request.Cdb, cdb, sizeof cdb);
    std::memcpy(system.data(), &request, sizeof request);
    return system;
}

template <typename Request>
Request Read(const std::vector<uint8_t>& system) {
    Request request;
    std::memcpy(&request, system.data(), sizeof request);
    return request;
}

TEST(PassThroughRequestHandler, RefusesEnvelopesAPortDriverWouldRefuse) {
    const uint32_t room = DataAt + 64;
    auto refusal = [&](std::vector<uint8_t> system, uint32_t input, uint32_t output) {
        return Handler::Prepare(system.data(), input, output, false).refusal;
    };
    EXPECT_EQ(refusal(Buffered(room, 36), room, room), Handler::Refusal::None);
    EXPECT_EQ(refusal(Buffered(room, 36), sizeof(ScsiPassThrough) - 1, room), Handler::Refusal::InvalidParameter);

    std::vector<uint8_t> other = Buffered(room, 36);
    other[0] = 44 + 56 - sizeof(ScsiPassThrough);  // the other word size's structure
    EXPECT_EQ(refusal(other, room, room), Handler::Refusal::RevisionMismatch);

    for (uint8_t cdbLength : {0, 16, 17}) {
        std::vector<uint8_t> system = Buffered(room, 36);
        system[offsetof(ScsiPassThrough, CdbLength)] = cdbLength;
        EXPECT_EQ(refusal(system, room, room),
                  cdbLength == 16 ? Handler::Refusal::None : Handler::Refusal::InvalidParameter)
            << int(cdbLength);
    }
    // Sense that just fits the output, and one byte past it, for a request without data.
    for (const uint8_t senseLength : {1, 24}) {
        std::vector<uint8_t> system = Buffered(room, 0);
        system[offsetof(ScsiPassThrough, SenseInfoLength)] = senseLength;
        EXPECT_EQ(refusal(system, room, SenseAt + senseLength), Handler::Refusal::None) << int(senseLength);
        EXPECT_EQ(refusal(system, room, SenseAt + senseLength - 1), Handler::Refusal::InvalidParameter)
            << int(senseLength);
    }
    // Sense that would not fit the output; data in beyond the output, data out beyond the input.
    EXPECT_EQ(refusal(Buffered(room, 36), room, SenseAt + 23), Handler::Refusal::InvalidParameter);
    EXPECT_EQ(refusal(Buffered(room, 36), room, DataAt + 35), Handler::Refusal::InvalidParameter);
    EXPECT_EQ(refusal(Buffered(room, 36, ScsiIoctlDataOut), DataAt + 35, room), Handler::Refusal::InvalidParameter);
    EXPECT_EQ(refusal(Buffered(room, 36, ScsiIoctlDataOut), DataAt + 36, room), Handler::Refusal::None);
}

TEST(PassThroughRequestHandler, DirectDataStayWithTheCaller) {
    std::vector<uint8_t> system(sizeof(ScsiPassThroughDirect) + 64, 0);
    ScsiPassThroughDirect request{};
    request.Length = sizeof request;
    request.CdbLength = 10;
    request.DataIn = ScsiIoctlDataIn;
    request.DataTransferLength = 16;
    std::memcpy(system.data(), &request, sizeof request);
    const uint32_t size = static_cast<uint32_t>(system.size());
    Handler::Prepared prepared = Handler::Prepare(system.data(), size, size, true);
    EXPECT_EQ(prepared.refusal, Handler::Refusal::InvalidParameter) << "data announced, no buffer";

    uint8_t callers[16];
    request.DataBuffer = callers;
    std::memcpy(system.data(), &request, sizeof request);
    prepared = Handler::Prepare(system.data(), size, size, true);
    EXPECT_EQ(prepared.refusal, Handler::Refusal::None);
    EXPECT_EQ(prepared.request.DataBuffer, callers);
    EXPECT_EQ(prepared.systemData, nullptr) << "nothing of the caller's buffer is in the system buffer";

    request.DataBuffer = nullptr;
    request.DataTransferLength = 0;
    std::memcpy(system.data(), &request, sizeof request);
    EXPECT_EQ(Handler::Prepare(system.data(), size, size, true).refusal, Handler::Refusal::None)
        << "a command without data needs no buffer";
}

TEST(PassThroughRequestHandler, AnswersWithStatusSenseAndTheDataMoved) {
    emulator::DriveConfig config;
    config.flashSize = 0x1000;
    std::vector<uint8_t> flash(config.flashSize, 0xFF), staging(config.flashSize, 0xFF);
    EmulatedDrive drive(config, flash.data(), staging.data());
    const uint32_t room = DataAt + 64;

    std::vector<uint8_t> system = Buffered(room, 64);
    Handler::Prepared prepared = Handler::Prepare(system.data(), sizeof(ScsiPassThrough), room, false);
    ASSERT_EQ(prepared.refusal, Handler::Refusal::None);
    EmulatedDrive::Result result = drive.Execute(Handler::DriveRequest(prepared, system.data(), prepared.systemData));
    uint32_t back = Handler::Complete(prepared, system.data(), room, result);
    EXPECT_EQ(back, DataAt + 36) << "up to the last byte the drive returned";
    ScsiPassThrough answer = Read<ScsiPassThrough>(system);
    EXPECT_EQ(answer.ScsiStatus, 0);
    EXPECT_EQ(answer.DataTransferLength, 36u);
    EXPECT_EQ(std::memcmp(system.data() + DataAt + 8, config.vendor, 8), 0);

    // An opcode the drive rejects: CHECK CONDITION with sense, nothing moved.
    system = Buffered(room, 64);
    system[offsetof(ScsiPassThrough, Cdb)] = 0xA8;
    prepared = Handler::Prepare(system.data(), sizeof(ScsiPassThrough), room, false);
    result = drive.Execute(Handler::DriveRequest(prepared, system.data(), prepared.systemData));
    back = Handler::Complete(prepared, system.data(), room, result);
    answer = Read<ScsiPassThrough>(system);
    EXPECT_EQ(answer.ScsiStatus, EmulatedDrive::StatusCheckCondition);
    EXPECT_EQ(answer.SenseInfoLength, result.senseWritten);
    EXPECT_EQ(system[SenseAt + 2] & 0x0F, EmulatedDrive::SenseIllegalRequest);
    EXPECT_EQ(back, DataAt) << "the sense, and the data area up to its (empty) end";
    // Never more than the caller has room for.
    EXPECT_EQ(Handler::Complete(prepared, system.data(), 50, result), 50u);
}

TEST(PassThroughRequestHandler, ADirectRequestReportsTheCountTheDriveMoved) {
    emulator::DriveConfig config;
    config.flashSize = 0x1000;
    std::vector<uint8_t> flash(config.flashSize, 0x5A), staging(config.flashSize, 0x5A);
    EmulatedDrive drive(config, flash.data(), staging.data());
    const struct {
        const char* what;
        uint8_t cdb[10];
        uint8_t dataIn;
        uint32_t transfer;
        uint32_t moved;
    } cases[] = {
        {"dump", {0x3C, 0x01, 0, 0, 0x08, 0, 0, 0x01, 0x00, 0x01}, ScsiIoctlDataIn, 0x100, 0x100},
        {"dump beyond the flash", {0x3C, 0x01, 0, 0, 0x0F, 0x80, 0, 0x01, 0x00, 0x01}, ScsiIoctlDataIn, 0x100, 0},
        {"identity with room to spare", {0x3C, 0x01, 0, 0, 0, 0, 0, 0, 0xC0, 0}, ScsiIoctlDataIn, 0xC0, 16},
        {"chunk written", {0x3B, 0x07, 0, 0, 0x04, 0, 0, 0x00, 0x40, 0}, ScsiIoctlDataOut, 0x40, 0x40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> callers(c.transfer, 0xEE);
        std::vector<uint8_t> system(sizeof(ScsiPassThroughDirect) + 64, 0);
        ScsiPassThroughDirect request{};
        request.Length = sizeof request;
        request.CdbLength = 10;
        request.DataIn = c.dataIn;
        request.DataTransferLength = c.transfer;
        request.DataBuffer = callers.data();
        request.SenseInfoLength = 24;
        request.SenseInfoOffset = sizeof request + 8;
        std::memcpy(request.Cdb, c.cdb, sizeof c.cdb);
        std::memcpy(system.data(), &request, sizeof request);
        const uint32_t size = static_cast<uint32_t>(system.size());
        const Handler::Prepared prepared = Handler::Prepare(system.data(), size, size, true);
        ASSERT_EQ(prepared.refusal, Handler::Refusal::None);
        const EmulatedDrive::Result result =
            drive.Execute(Handler::DriveRequest(prepared, system.data(), callers.data()));
        // The request, and the drive's 18 bytes of sense when it refused the command.
        const uint32_t back = sizeof(ScsiPassThroughDirect) + (c.moved == 0 ? 8 + 18 : 0);
        EXPECT_EQ(Handler::Complete(prepared, system.data(), size, result), back);
        EXPECT_EQ(Read<ScsiPassThroughDirect>(system).DataTransferLength, c.moved);
        EXPECT_EQ(Read<ScsiPassThroughDirect>(system).SenseInfoLength, c.moved == 0 ? 18 : 0);
    }
}

TEST(PortInquiryData, ListsEachBusAndChainsItsUnits) {
    emulator::DriveConfig drive;
    const PortInquiryData::Unit units[] = {{0, 0, &drive}, {0, 3, nullptr}, {1, 2, &drive}, {5, 0, &drive}};
    const uint8_t buses = 3;  // bus 5 is not reported
    const uint32_t size = PortInquiryData::Size(buses, 3);
    std::vector<uint8_t> out(size + 8, 0xEE);
    EXPECT_EQ(PortInquiryData::Write(buses, units, 4, out.data(), size - 1), 0u) << "too little room";
    ASSERT_EQ(PortInquiryData::Write(buses, units, 4, out.data(), static_cast<uint32_t>(out.size())), size);
    EXPECT_EQ(out[size], 0xEE) << "nothing written past the answer";
    EXPECT_EQ(out[0], buses);

    auto bus = [&](int b) {
        ScsiBusData entry;
        std::memcpy(&entry, out.data() + offsetof(ScsiAdapterBusInfo, BusData) + b * sizeof entry, sizeof entry);
        return entry;
    };
    auto unit = [&](uint32_t at) {
        ScsiInquiryData head;
        std::memcpy(&head, out.data() + at, offsetof(ScsiInquiryData, InquiryData));
        return head;
    };
    EXPECT_EQ(bus(0).NumberOfLogicalUnits, 2);
    EXPECT_EQ(bus(1).NumberOfLogicalUnits, 1);
    EXPECT_EQ(bus(2).NumberOfLogicalUnits, 0);
    EXPECT_EQ(bus(2).InquiryDataOffset, 0u);
    const ScsiInquiryData first = unit(bus(0).InquiryDataOffset);
    EXPECT_EQ(first.TargetId, 0);
    EXPECT_EQ(first.InquiryDataLength, 36u);
    EXPECT_EQ(out[bus(0).InquiryDataOffset + offsetof(ScsiInquiryData, InquiryData)], drive.deviceType);
    const ScsiInquiryData second = unit(first.NextInquiryDataOffset);
    EXPECT_EQ(second.TargetId, 3);
    EXPECT_EQ(second.NextInquiryDataOffset, 0u) << "the bus's chain ends";
    EXPECT_EQ(out[first.NextInquiryDataOffset + offsetof(ScsiInquiryData, InquiryData)], 0x1F) << "no drive there";
    const ScsiInquiryData third = unit(bus(1).InquiryDataOffset);
    EXPECT_EQ(third.PathId, 1);
    EXPECT_EQ(third.TargetId, 2);
    EXPECT_EQ(std::memcmp(out.data() + bus(1).InquiryDataOffset + offsetof(ScsiInquiryData, InquiryData) + 16,
                          drive.product, 16),
              0);
}

}  // namespace
