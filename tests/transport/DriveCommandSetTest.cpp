#include "transport/DriveCommandSet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const CommandDescriptorBlock& cdb) {
    return std::vector<uint8_t>(cdb.Bytes, cdb.Bytes + cdb.Length);
}

using V = std::vector<uint8_t>;

TEST(DriveCommandSet, BuildsTheSixCommandsByteForByte) {
    struct Case {
        const char* what;
        CommandDescriptorBlock cdb;
        V expected;
    };
    const Case cases[] = {
        {"INQUIRY for ASPI", DriveCommandSet::Inquiry(DriveCommandSet::AspiAllocationLength),
         V{0x12, 0x00, 0x00, 0x00, 0x64, 0x00}},
        {"INQUIRY for pass-through", DriveCommandSet::Inquiry(DriveCommandSet::PassThroughAllocationLength),
         V{0x12, 0x00, 0x00, 0x00, 0xC0, 0x00}},
        {"identity for ASPI", DriveCommandSet::IdentityQuery(DriveCommandSet::AspiAllocationLength),
         V{0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00}},
        {"identity for pass-through", DriveCommandSet::IdentityQuery(DriveCommandSet::PassThroughAllocationLength),
         V{0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00}},
        {"first chunk written", DriveCommandSet::WriteFirmwareChunk(0, 0x0000, 0x4000),
         V{0x3B, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"last chunk of 128 KiB written", DriveCommandSet::WriteFirmwareChunk(1, 0xC000, 0x4000),
         V{0x3B, 0x07, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"first chunk read back", DriveCommandSet::ReadBackChunk(0, 0x0000, 0x4000),
         V{0x3C, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"last chunk read back", DriveCommandSet::ReadBackChunk(1, 0xC000, 0x4000),
         V{0x3C, 0x02, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}},
        {"last chunk dumped", DriveCommandSet::DumpFirmwareChunk(1, 0xC000, 0x4000),
         V{0x3C, 0x01, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x01}},
        {"chunk of a 512 KiB flash", DriveCommandSet::DumpFirmwareChunk(7, 0x4000, 0x4000),
         V{0x3C, 0x01, 0x07, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x01}},
        {"odd offset and length", DriveCommandSet::WriteFirmwareChunk(0xAB, 0x1234, 0xFEDC),
         V{0x3B, 0x07, 0xAB, 0x00, 0x12, 0x34, 0x00, 0xFE, 0xDC, 0x00}},
        {"commit", DriveCommandSet::CommitFirmware(),
         V{0x3B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Bytes(c.cdb), c.expected) << c.what;
    }
}

TEST(DriveCommandSet, DumpDiffersFromReadBackOnlyInModeAndControl) {
    const V dump = Bytes(DriveCommandSet::DumpFirmwareChunk(1, 0x8000, 0x4000));
    const V readBack = Bytes(DriveCommandSet::ReadBackChunk(1, 0x8000, 0x4000));
    ASSERT_EQ(dump.size(), readBack.size());
    for (size_t i = 0; i < dump.size(); ++i) {
        if (i == 1) {
            EXPECT_EQ(dump[i], 0x01);
            EXPECT_EQ(readBack[i], 0x02);
        } else if (i == 9) {
            EXPECT_EQ(dump[i], 0x01);
            EXPECT_EQ(readBack[i], 0x00);
        } else {
            EXPECT_EQ(dump[i], readBack[i]) << "byte " << i;
        }
    }
}

// 36 bytes of standard INQUIRY data.
std::vector<uint8_t> InquiryAnswer(uint8_t byte0, const char* vendor8, const char* product16) {
    std::vector<uint8_t> answer(100, 0);
    answer[0] = byte0;
    answer[4] = 31;
    std::memcpy(&answer[8], vendor8, 8);
    std::memcpy(&answer[16], product16, 16);
    std::memcpy(&answer[32], "1.00", 4);
    return answer;
}

TEST(DriveCommandSet, InquiryKeepsOnlyCdDvdDevices) {
    struct Case {
        uint8_t byte0;
        int accepted;
    };
    const Case cases[] = {{0x05, 1}, {0x25, 1}, {0xE5, 1}, {0x00, 0}, {0x1F, 0}, {0x04, 0}, {0x15, 0}};
    for (const Case& c : cases) {
        DeviceRecord record;
        ClearDeviceRecord(record);
        const std::vector<uint8_t> answer = InquiryAnswer(c.byte0, "VENDOR  ", "DVD-ROM MODEL 16");
        EXPECT_EQ(DriveCommandSet::AcceptInquiry(answer.data(), answer.size(), record) != 0, c.accepted != 0)
            << "byte 0 = " << int(c.byte0);
        if (c.accepted) {
            EXPECT_STREQ(record.Vendor, "VENDOR  ");
            EXPECT_STREQ(record.Product, "DVD-ROM MODEL 16");
        } else {
            EXPECT_STREQ(record.Vendor, "");
            EXPECT_STREQ(record.Product, "");
        }
    }
}

TEST(DriveCommandSet, InquiryCopiesTextsExactlyAndNeverWritesTheirTerminators) {
    DeviceRecord record;
    std::memset(&record, 0, sizeof record);
    // Terminators that are not NUL show whether the copy writes past its 8 and 16 bytes.
    record.Vendor[8] = 'V';
    record.Product[16] = 'P';
    const std::vector<uint8_t> answer = InquiryAnswer(0x05, "AB      ", "  X\x01y           ");
    ASSERT_NE(DriveCommandSet::AcceptInquiry(answer.data(), answer.size(), record), 0);
    EXPECT_EQ(std::memcmp(record.Vendor, "AB      V", 9), 0);
    EXPECT_EQ(std::memcmp(record.Product, "  X\x01y           P", 17), 0);
}

TEST(DriveCommandSet, RefusedInquiryLeavesTheRecordAsItWas) {
    DeviceRecord before;
    std::memset(&before, 0x5A, sizeof before);
    DeviceRecord record = before;
    const std::vector<uint8_t> disk = InquiryAnswer(0x00, "DISK    ", "HARD DRIVE      ");
    EXPECT_EQ(DriveCommandSet::AcceptInquiry(disk.data(), disk.size(), record), 0);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    // An answer too short to hold the product text is refused rather than read past its end.
    const std::vector<uint8_t> cd = InquiryAnswer(0x05, "VENDOR  ", "PRODUCT         ");
    EXPECT_EQ(DriveCommandSet::AcceptInquiry(cd.data(), 31, record), 0);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
}

std::vector<uint8_t> IdentityAnswer(std::initializer_list<uint8_t> first12) {
    std::vector<uint8_t> answer(192, 0);
    std::copy(first12.begin(), first12.end(), answer.begin());
    return answer;
}

TEST(DriveCommandSet, IdentityGivesControllerVersionAndFlashSize) {
    struct Case {
        const char* what;
        std::vector<uint8_t> answer;
        uint16_t controller, major, minor;
        uint32_t flashSize;
    };
    const Case cases[] = {
        {"0x6E15 default", IdentityAnswer({0x7C, 0x4A, 0x15, 0x6E, 0x99, 0x99, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00}),
         0x6E15, 1, 5, 131072},
        {"0x6E2A default", IdentityAnswer({0x7C, 0x4A, 0x2A, 0x6E, 0, 0, 0x02, 0x00, 0x0A, 0x00, 0x00, 0x00}),
         0x6E2A, 2, 10, 524288},
        {"0x6E47 default", IdentityAnswer({0x7C, 0x4A, 0x47, 0x6E, 0, 0, 0x34, 0x12, 0x78, 0x56, 0x00, 0x00}),
         0x6E47, 0x1234, 0x5678, 262144},
        {"size 0x0080 KiB on 0x6E2A", IdentityAnswer({0x7C, 0x4A, 0x2A, 0x6E, 0, 0, 1, 0, 0, 0, 0x80, 0x00}),
         0x6E2A, 1, 0, 131072},
        {"size 0x0080 KiB on 0x6E47", IdentityAnswer({0x7C, 0x4A, 0x47, 0x6E, 0, 0, 1, 0, 0, 0, 0x80, 0x00}),
         0x6E47, 1, 0, 131072},
        {"size 0x0100 KiB on 0x6E15", IdentityAnswer({0x7C, 0x4A, 0x15, 0x6E, 0, 0, 1, 0, 0, 0, 0x00, 0x01}),
         0x6E15, 1, 0, 262144},
        {"largest size word", IdentityAnswer({0x7C, 0x4A, 0x15, 0x6E, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}),
         0x6E15, 0, 0, 65535u * 1024u},
    };
    for (const Case& c : cases) {
        DeviceRecord record;
        ClearDeviceRecord(record);
        ASSERT_NE(DriveCommandSet::AcceptIdentity(c.answer.data(), c.answer.size(), record), 0) << c.what;
        EXPECT_EQ(record.ControllerId, c.controller) << c.what;
        EXPECT_EQ(record.VersionMajor, c.major) << c.what;
        EXPECT_EQ(record.VersionMinor, c.minor) << c.what;
        EXPECT_EQ(record.FlashSize, c.flashSize) << c.what;
    }
}

TEST(DriveCommandSet, RefusedIdentityLeavesControllerVersionsAndSizeAsTheyWere) {
    struct Case {
        const char* what;
        std::vector<uint8_t> answer;
        size_t length;
    };
    const Case cases[] = {
        {"maker word byte-swapped", IdentityAnswer({0x4A, 0x7C, 0x15, 0x6E, 0, 0, 2, 0, 0, 0, 0, 0}), 192},
        {"other controller id", IdentityAnswer({0x7C, 0x4A, 0x16, 0x6E, 0, 0, 2, 0, 0, 0, 0, 0}), 192},
        {"controller id byte-swapped", IdentityAnswer({0x7C, 0x4A, 0x6E, 0x15, 0, 0, 2, 0, 0, 0, 0, 0}), 192},
        {"all zero (no data came back)", IdentityAnswer({}), 192},
        {"too short to hold the size word", IdentityAnswer({0x7C, 0x4A, 0x15, 0x6E, 0, 0, 2, 0, 0, 0, 0, 0}), 11},
    };
    for (const Case& c : cases) {
        DeviceRecord record;
        ClearDeviceRecord(record);
        record.ControllerId = 0x6E47;
        record.VersionMajor = 3;
        record.VersionMinor = 14;
        record.FlashSize = 262144;
        const DeviceRecord before = record;
        EXPECT_EQ(DriveCommandSet::AcceptIdentity(c.answer.data(), c.length, record), 0) << c.what;
        EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << c.what;
    }
}

}  // namespace
