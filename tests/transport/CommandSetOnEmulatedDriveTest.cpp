// The command set's bytes as a drive of the family answers them: both allocation lengths, every
// chunk command, and the judges reading the real answers.
#include <gtest/gtest.h>

#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "transport/DriveCommandSet.h"

namespace {

using emulator::EmulatedDrive;
using Dir = EmulatedDrive::Direction;

class CommandSetOnDrive : public ::testing::Test {
protected:
    emulator::DriveConfig config;
    std::vector<uint8_t> flash = std::vector<uint8_t>(131072, 0xEE);
    std::vector<uint8_t> staging = std::vector<uint8_t>(131072, 0xEE);
    EmulatedDrive drive;

    void SetUp() override {
        config.SetVendor("VENDOR");
        config.SetProduct("DVD WRITER");
        config.controllerId = 0x6E15;
        config.versionMajor = 2;
        config.versionMinor = 7;
        config.flashSize = 131072;
        drive.Configure(config);
        drive.Attach(flash.data(), staging.data());
    }

    EmulatedDrive::Result Send(const CommandDescriptorBlock& cdb, Dir direction, uint8_t* data, uint32_t length) {
        EmulatedDrive::Request request;
        request.cdb = cdb.Bytes;
        request.cdbLength = cdb.Length;
        request.direction = direction;
        request.data = data;
        request.dataLength = length;
        return drive.Execute(request);
    }
};

TEST_F(CommandSetOnDrive, IdentificationWithEitherTransportsLengthsIsAccepted) {
    struct Case {
        uint8_t allocation;
        uint32_t room;
    };
    for (const Case c : {Case{DriveCommandSet::AspiAllocationLength, 100}, Case{DriveCommandSet::PassThroughAllocationLength, 512},
                         Case{DriveCommandSet::PassThroughAllocationLength, 192}}) {
        DeviceRecord record;
        ClearDeviceRecord(record);
        std::vector<uint8_t> answer(c.room, 0);
        ASSERT_EQ(Send(DriveCommandSet::Inquiry(c.allocation), Dir::In, answer.data(), c.room).status, 0);
        ASSERT_NE(DriveCommandSet::AcceptInquiry(answer.data(), answer.size(), record), 0);
        std::vector<uint8_t> identity(c.room, 0);
        ASSERT_EQ(Send(DriveCommandSet::IdentityQuery(c.allocation), Dir::In, identity.data(), c.room).status, 0);
        ASSERT_NE(DriveCommandSet::AcceptIdentity(identity.data(), identity.size(), record), 0);
        EXPECT_STREQ(record.Vendor, "VENDOR  ");
        EXPECT_STREQ(record.Product, "DVD WRITER      ");
        EXPECT_EQ(record.ControllerId, 0x6E15);
        EXPECT_EQ(record.VersionMajor, 2);
        EXPECT_EQ(record.VersionMinor, 7);
        EXPECT_EQ(record.FlashSize, 131072u);   // the drive reports size 0: the controller's default
    }
}

TEST_F(CommandSetOnDrive, ChunksWrittenReadBackCommittedAndDumped) {
    std::vector<uint8_t> chunk(0x4000);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 13 + 5);
    ASSERT_EQ(Send(DriveCommandSet::WriteFirmwareChunk(1, 0xC000, 0x4000), Dir::Out, chunk.data(), 0x4000).status, 0);

    std::vector<uint8_t> readBack(0x4000, 0);
    ASSERT_EQ(Send(DriveCommandSet::ReadBackChunk(1, 0xC000, 0x4000), Dir::In, readBack.data(), 0x4000).status, 0);
    EXPECT_EQ(readBack, chunk);

    // The dump shows the flash, which changes only with the commit.
    std::vector<uint8_t> dumped(0x4000, 0);
    ASSERT_EQ(Send(DriveCommandSet::DumpFirmwareChunk(1, 0xC000, 0x4000), Dir::In, dumped.data(), 0x4000).status, 0);
    EXPECT_EQ(dumped, std::vector<uint8_t>(0x4000, 0xEE));
    ASSERT_EQ(Send(DriveCommandSet::CommitFirmware(), Dir::Out, nullptr, 0).status, 0);
    ASSERT_EQ(Send(DriveCommandSet::DumpFirmwareChunk(1, 0xC000, 0x4000), Dir::In, dumped.data(), 0x4000).status, 0);
    EXPECT_EQ(dumped, chunk);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0x1C000, flash.end()), chunk);
}

TEST_F(CommandSetOnDrive, ChunkPastTheFlashIsRefused) {
    std::vector<uint8_t> chunk(0x4000, 0);
    EXPECT_EQ(Send(DriveCommandSet::WriteFirmwareChunk(2, 0x0000, 0x4000), Dir::Out, chunk.data(), 0x4000).status,
              EmulatedDrive::StatusCheckCondition);
    EXPECT_EQ(Send(DriveCommandSet::DumpFirmwareChunk(1, 0xE000, 0x4000), Dir::In, chunk.data(), 0x4000).status,
              EmulatedDrive::StatusCheckCondition);
}

}  // namespace
