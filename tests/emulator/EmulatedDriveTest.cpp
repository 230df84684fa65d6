#include "emulator/drive/EmulatedDrive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

using emulator::DriveConfig;
using emulator::EmulatedDrive;
using Dir = EmulatedDrive::Direction;
using Kind = EmulatedDrive::Kind;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t TestFlashSize = 0x40000;

struct Command {
    Bytes cdb;
    Dir dir;
    uint32_t hostLength;
};

// Literal CDBs for the commands of a normal upgrade.
const Bytes InquiryCdb = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
const Bytes IdentityCdb = {0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};
const Bytes Write1C000 = {0x3B, 0x07, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00};
const Bytes ReadBack1C000 = {0x3C, 0x02, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00};
const Bytes Dump1C000 = {0x3C, 0x01, 0x01, 0x00, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x01};
const Bytes CommitCdb = {0x3B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

class DriveTest : public ::testing::Test {
protected:
    DriveTest() : flash(TestFlashSize), staging(TestFlashSize), chunk(0x4000) {
        for (uint32_t i = 0; i < TestFlashSize; ++i) {
            flash[i] = static_cast<uint8_t>(i ^ (i >> 8));
        }
        for (size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<uint8_t>(0xA5 ^ (i * 3));
        }
        config.flashSize = TestFlashSize;
        Reattach();
    }

    void Reattach() {
        drive.Configure(config);
        drive.Attach(flash.data(), staging.data());
    }

    EmulatedDrive::Result Send(const Bytes& cdb, Dir dir, uint8_t* data, uint32_t length) {
        std::memset(sense, 0xEE, sizeof sense);
        EmulatedDrive::Request r;
        r.cdb = cdb.data();
        r.cdbLength = static_cast<uint32_t>(cdb.size());
        r.direction = dir;
        r.data = data;
        r.dataLength = length;
        r.sense = sense;
        r.senseLength = sizeof sense;
        return drive.Execute(r);
    }

    EmulatedDrive::Result Send(const Bytes& cdb, Dir dir, Bytes& data) {
        return Send(cdb, dir, data.data(), static_cast<uint32_t>(data.size()));
    }

    EmulatedDrive::Result Run(const Command& c) {
        buffer.assign(c.hostLength, 0x5A);
        return Send(c.cdb, c.dir, buffer.data(), c.hostLength);
    }

    // A disc of BLOCKS blocks, each filled with its number plus one; block BAD cannot be read.
    void InsertDisc(uint32_t blocks, uint32_t bad = 0xFFFFFFFFu) {
        disc.assign(static_cast<size_t>(blocks) * 2048, 0);
        for (size_t i = 0; i < disc.size(); ++i) disc[i] = static_cast<uint8_t>(i / 2048 + 1);
        badBlock = bad;
        EmulatedDrive::Medium medium;
        medium.blocks = blocks;
        medium.read = &DriveTest::ReadDisc;
        medium.context = this;
        drive.SetMedium(medium);
    }

    static bool ReadDisc(void* self, uint32_t lba, uint32_t count, uint8_t* out) {
        DriveTest& t = *static_cast<DriveTest*>(self);
        EXPECT_LE(uint64_t{lba} + count, t.disc.size() / 2048) << "the drive asked past the disc";
        if (t.badBlock >= lba && t.badBlock - lba < count) return false;
        std::memcpy(out, t.disc.data() + static_cast<size_t>(lba) * 2048, static_cast<size_t>(count) * 2048);
        return true;
    }

    Bytes ReadBack(const Bytes& cdb, uint32_t length) {
        Bytes out(length, 0);
        EXPECT_EQ(Send(cdb, Dir::In, out).status, 0);
        return out;
    }

    DriveConfig config;
    Bytes flash, staging, chunk, buffer, disc;
    uint32_t badBlock = 0xFFFFFFFFu;
    EmulatedDrive drive;
    uint8_t sense[32];
};

void ExpectCheck(const EmulatedDrive::Result& r, const uint8_t* sense, uint8_t key, uint8_t asc) {
    EXPECT_EQ(r.status, 0x02);
    EXPECT_EQ(r.senseKey, key);
    EXPECT_EQ(r.asc, asc);
    EXPECT_EQ(r.senseWritten, 18u);
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[2], key);
    EXPECT_EQ(sense[7], 0x0A);
    EXPECT_EQ(sense[12], asc);
    EXPECT_EQ(sense[18], 0xEE) << "sense written past 18 bytes";
}

// --- INQUIRY ------------------------------------------------------------------------------

TEST_F(DriveTest, InquiryReportsConfiguredIdentityText) {
    config.deviceType = 0x25;
    config.SetVendor("ACME");
    config.SetProduct("DVD-RAM X9");
    config.SetRevision("1.2");
    Reattach();
    Bytes data(64, 0x5A);
    const auto r = Send(InquiryCdb, Dir::In, data);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.transferred, 36u);
    const Bytes expected = {0x25, 0x80, 0x00, 0x02, 0x1F, 0x00, 0x00, 0x00,
                            'A', 'C', 'M', 'E', ' ', ' ', ' ', ' ',
                            'D', 'V', 'D', '-', 'R', 'A', 'M', ' ', 'X', '9', ' ', ' ', ' ', ' ', ' ', ' ',
                            '1', '.', '2', ' '};
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 36), expected);
    EXPECT_EQ(data[36], 0x5A);
}

TEST_F(DriveTest, InquiryTransfersTheSmallestOfAllocationHostAndData) {
    struct Case { uint8_t allocHi, allocLo; uint32_t host; uint32_t expected; };
    const Case cases[] = {
        {0x00, 0x24, 36, 36}, {0x00, 0x05, 36, 5}, {0x00, 0x24, 8, 8},
        {0x01, 0x00, 255, 36}, {0x00, 0x00, 36, 0}, {0x00, 0x24, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes data(c.host + 1, 0x5A);
        const auto r = Send({0x12, 0x00, 0x00, c.allocHi, c.allocLo, 0x00}, Dir::In, data.data(), c.host);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.transferred, c.expected) << "alloc " << (c.allocHi * 256 + c.allocLo) << " host " << c.host;
        EXPECT_EQ(data[c.expected], 0x5A) << "wrote past the transfer";
    }
}

TEST_F(DriveTest, InquiryAcceptsAPaddedTwelveByteCdb) {
    Bytes data(36);
    const auto r = Send({0x12, 0x00, 0x00, 0x00, 0x24, 0x00, 0, 0, 0, 0, 0, 0}, Dir::In, data);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.transferred, 36u);
}

// --- identity block -----------------------------------------------------------------------

TEST_F(DriveTest, IdentityBlockIsLittleEndian) {
    config.makerWord = 0x4A7C;
    config.controllerId = 0x6E2A;
    config.versionMajor = 0x0102;
    config.versionMinor = 0x0304;
    config.sizeWordKiB = 0x0800;
    Reattach();
    Bytes data(16, 0x5A);
    const auto r = Send(IdentityCdb, Dir::In, data);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.transferred, 16u);
    EXPECT_EQ(data, (Bytes{0x7C, 0x4A, 0x2A, 0x6E, 0x00, 0x00, 0x02, 0x01,
                           0x04, 0x03, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(DriveTest, IdentitySizeWordIsReportedAsConfigured) {
    // 0 stays 0: choosing the controller's usual size is the host's business.
    struct Case { uint16_t controller; uint16_t sizeWord; uint8_t lo, hi; };
    const Case cases[] = {
        {0x6E15, 0, 0x00, 0x00}, {0x6E2A, 0, 0x00, 0x00}, {0x6E47, 0x0200, 0x00, 0x02},
        {0x6E15, 0x0080, 0x80, 0x00}, {0x1234, 0x0100, 0x00, 0x01},
    };
    for (const Case& c : cases) {
        config.controllerId = c.controller;
        config.sizeWordKiB = c.sizeWord;
        Reattach();
        Bytes data(16);
        ASSERT_EQ(Send(IdentityCdb, Dir::In, data).status, 0);
        EXPECT_EQ(data[10], c.lo) << std::hex << c.controller;
        EXPECT_EQ(data[11], c.hi) << std::hex << c.controller;
    }
}

TEST_F(DriveTest, IdentityTransfersTheSmallestOfAllocationHostAndBlock) {
    struct Case { uint8_t alloc; uint32_t host; uint32_t expected; };
    const Case cases[] = {{0x10, 16, 16}, {0xFF, 64, 16}, {0x08, 16, 8}, {0x10, 4, 4}, {0x00, 16, 0}};
    for (const Case& c : cases) {
        Bytes data(c.host + 1, 0x5A);
        const auto r = Send({0x3C, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, c.alloc, 0x00}, Dir::In,
                            data.data(), c.host);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.transferred, c.expected);
        EXPECT_EQ(data[c.expected], 0x5A);
    }
}

TEST_F(DriveTest, VersionOffsetReportsTheCommittedImage) {
    config.versionOffset = 0x1C010;
    Reattach();
    flash[0x1C010] = 0x01; flash[0x1C011] = 0x00; flash[0x1C012] = 0x02; flash[0x1C013] = 0x00;
    drive.ResetStaging();
    Bytes id(16);
    ASSERT_EQ(Send(IdentityCdb, Dir::In, id).status, 0);
    EXPECT_EQ((Bytes{id[6], id[7], id[8], id[9]}), (Bytes{0x01, 0x00, 0x02, 0x00}));

    chunk[0x10] = 0x03; chunk[0x11] = 0x01; chunk[0x12] = 0x07; chunk[0x13] = 0x00;
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    ASSERT_EQ(Send(IdentityCdb, Dir::In, id).status, 0);
    EXPECT_EQ(id[6], 0x01) << "staging alone must not change the version";

    ASSERT_EQ(Send(CommitCdb, Dir::None, nullptr, 0).status, 0);
    ASSERT_EQ(Send(IdentityCdb, Dir::In, id).status, 0);
    EXPECT_EQ((Bytes{id[6], id[7], id[8], id[9]}), (Bytes{0x03, 0x01, 0x07, 0x00}));
}

// --- chunks and commit --------------------------------------------------------------------

TEST_F(DriveTest, WriteReadBackDumpAndCommit) {
    const Bytes before(flash.begin() + 0x1C000, flash.begin() + 0x20000);
    const auto w = Send(Write1C000, Dir::Out, chunk);
    ASSERT_EQ(w.status, 0);
    EXPECT_EQ(w.transferred, 0x4000u);
    EXPECT_TRUE(drive.ReceivedSinceCommit());

    EXPECT_EQ(ReadBack(ReadBack1C000, 0x4000), chunk);
    EXPECT_EQ(ReadBack(Dump1C000, 0x4000), before) << "dump must show the committed flash";
    EXPECT_EQ(flash[0x1C000], 0xC0) << "flash touched before commit";

    const auto c = Send(CommitCdb, Dir::Out, nullptr, 0);
    ASSERT_EQ(c.status, 0);
    EXPECT_EQ(drive.CommitCount(), 1u);
    EXPECT_FALSE(drive.ReceivedSinceCommit());
    EXPECT_EQ(ReadBack(Dump1C000, 0x4000), chunk);
    EXPECT_EQ(flash[0x1C000], 0xA5);
    EXPECT_EQ(flash[0x1C001], 0xA6);
    EXPECT_EQ(flash[0x1BFFF], 0x40) << "byte before the chunk changed";
    EXPECT_EQ(flash[0x20000], 0x00) << "byte after the chunk changed";
}

TEST_F(DriveTest, CommitNeedsDataReceivedSinceTheLastCommit) {
    ExpectCheck(Send(CommitCdb, Dir::None, nullptr, 0), sense, 0x05, 0x2C);
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    ASSERT_EQ(Send(CommitCdb, Dir::None, nullptr, 0).status, 0);
    ExpectCheck(Send(CommitCdb, Dir::None, nullptr, 0), sense, 0x05, 0x2C);
    EXPECT_EQ(drive.CommitCount(), 1u);
}

TEST_F(DriveTest, ChunkAtTheVeryEndOfFlashIsInRange) {
    Bytes tail(0x10, 0x33);
    EXPECT_EQ(Send({0x3B, 0x07, 0x03, 0x00, 0xFF, 0xF0, 0x00, 0x00, 0x10, 0x00}, Dir::Out, tail).status, 0);
    EXPECT_EQ(ReadBack({0x3C, 0x02, 0x00, 0x03, 0xFF, 0xF0, 0x00, 0x00, 0x10, 0x00}, 0x10), tail);
}

// --- rejections ---------------------------------------------------------------------------

TEST_F(DriveTest, RejectedCommandsChangeNothing) {
    struct Case { const char* name; Command cmd; uint8_t key; uint8_t asc; };
    const Case cases[] = {
        {"unknown opcode", {{0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, Dir::In, 2048}, 0x05, 0x20},
        {"no cdb bytes", {{}, Dir::None, 0}, 0x05, 0x20},
        // Looked at before the drive finds it has no disc.
        {"read(10) into a short buffer", {{0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, Dir::In, 4095}, 0x05, 0x24},
        {"read(10) direction out", {{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Dir::Out, 2048}, 0x05, 0x24},
        {"read(10) in 9 bytes", {{0x28, 0, 0, 0, 0, 0, 0, 0, 1}, Dir::In, 2048}, 0x05, 0x24},
        {"start stop unit in 5 bytes", {{0x1B, 0, 0, 0, 0x02}, Dir::None, 0}, 0x05, 0x24},
        {"write mode 3", {{0x3B, 0x03, 0, 0, 0, 0, 0, 0, 0x10, 0}, Dir::Out, 0x10}, 0x05, 0x24},
        {"read mode 3", {{0x3C, 0x03, 0, 0, 0, 0, 0, 0, 0x04, 0}, Dir::In, 4}, 0x05, 0x24},
        {"write LUN bits", {{0x3B, 0x27, 0, 0, 0, 0, 0, 0, 0x10, 0}, Dir::Out, 0x10}, 0x05, 0x24},
        {"commit LUN bits", {{0x3B, 0x84, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::None, 0}, 0x05, 0x24},
        {"identity LUN bits", {{0x3C, 0x41, 0, 0, 0, 0, 0, 0, 0x10, 0}, Dir::In, 16}, 0x05, 0x24},
        {"inquiry LUN bits", {{0x12, 0x20, 0, 0, 0x24, 0}, Dir::In, 36}, 0x05, 0x24},
        {"inquiry EVPD", {{0x12, 0x01, 0x80, 0, 0x24, 0}, Dir::In, 36}, 0x05, 0x24},
        {"inquiry page without EVPD", {{0x12, 0x00, 0x80, 0, 0x24, 0}, Dir::In, 36}, 0x05, 0x24},
        {"inquiry direction none", {InquiryCdb, Dir::None, 0}, 0x05, 0x24},
        {"short buffer cdb", {{0x3C, 0x01, 0, 0, 0, 0}, Dir::In, 16}, 0x05, 0x24},
        {"write past end", {{0x3B, 0x07, 0x03, 0x00, 0xF0, 0x01, 0, 0x10, 0, 0}, Dir::Out, 0x1000}, 0x05, 0x21},
        {"write just past end", {{0x3B, 0x07, 0x04, 0, 0, 0, 0, 0, 0x01, 0}, Dir::Out, 1}, 0x05, 0x21},
        {"read-back past end", {{0x3C, 0x02, 0x03, 0x00, 0xFF, 0xF1, 0, 0, 0x10, 0}, Dir::In, 0x10}, 0x05, 0x21},
        {"dump at 24-bit maximum", {{0x3C, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x10, 0x01}, Dir::In, 0x10}, 0x05, 0x21},
        {"write length above host", {{0x3B, 0x07, 0, 0, 0, 0, 0, 0x10, 0, 0}, Dir::Out, 0x800}, 0x05, 0x24},
        {"write length below host", {{0x3B, 0x07, 0, 0, 0, 0, 0, 0x08, 0, 0}, Dir::Out, 0x1000}, 0x05, 0x24},
        {"write length 0", {{0x3B, 0x07, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::Out, 0}, 0x05, 0x24},
        {"write direction in", {Write1C000, Dir::In, 0x4000}, 0x05, 0x24},
        {"write control 1", {{0x3B, 0x07, 0, 0, 0, 0, 0, 0, 0x10, 0x01}, Dir::Out, 0x10}, 0x05, 0x24},
        {"read-back direction out", {ReadBack1C000, Dir::Out, 0x4000}, 0x05, 0x24},
        {"read-back control 1", {{0x3C, 0x02, 0, 0, 0, 0, 0, 0, 0x10, 0x01}, Dir::In, 0x10}, 0x05, 0x24},
        {"read-back length 0", {{0x3C, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::In, 0x10}, 0x05, 0x24},
        {"dump host buffer short", {Dump1C000, Dir::In, 0x3FFF}, 0x05, 0x24},
        {"dump control 2", {{0x3C, 0x01, 0, 0, 0, 0, 0, 0, 0x10, 0x02}, Dir::In, 0x10}, 0x05, 0x24},
        {"identity buffer id 1", {{0x3C, 0x01, 0x01, 0, 0, 0, 0, 0, 0x10, 0}, Dir::In, 16}, 0x05, 0x24},
        {"identity offset 16", {{0x3C, 0x01, 0, 0, 0, 0x10, 0, 0, 0x10, 0}, Dir::In, 16}, 0x05, 0x24},
        {"identity direction out", {IdentityCdb, Dir::Out, 16}, 0x05, 0x24},
        {"commit with length", {{0x3B, 0x04, 0, 0, 0, 0, 0, 0, 0x10, 0}, Dir::Out, 0x10}, 0x05, 0x24},
        {"commit direction in", {CommitCdb, Dir::In, 0}, 0x05, 0x24},
        {"commit control 1", {{0x3B, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x01}, Dir::None, 0}, 0x05, 0x24},
    };
    // Data already received, so that a commit slipping through would show in the flash.
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    const Bytes flashBefore = flash;
    const Bytes stagingBefore = staging;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Run(c.cmd);
        ExpectCheck(r, sense, c.key, c.asc);
        EXPECT_EQ(r.transferred, 0u);
        EXPECT_TRUE(buffer.empty() || buffer[0] == 0x5A) << "data returned on a rejection";
        EXPECT_TRUE(flash == flashBefore);
        EXPECT_TRUE(staging == stagingBefore);
    }
    EXPECT_EQ(drive.CommitCount(), 0u);
    EXPECT_TRUE(drive.ReceivedSinceCommit());
}

TEST_F(DriveTest, SenseIsCutToTheHostsBuffer) {
    uint8_t small[8];
    std::memset(small, 0xEE, sizeof small);
    EmulatedDrive::Request r;
    r.cdb = CommitCdb.data();
    r.cdbLength = 10;
    r.sense = small;
    r.senseLength = 4;
    const auto res = drive.Execute(r);
    EXPECT_EQ(res.senseWritten, 4u);
    EXPECT_EQ((Bytes(small, small + 8)), (Bytes{0x70, 0x00, 0x05, 0x00, 0xEE, 0xEE, 0xEE, 0xEE}));
}

// --- faults -------------------------------------------------------------------------------

TEST_F(DriveTest, GoneDriveFailsEverythingUntilCleared) {
    drive.SetGone(true);
    for (const Bytes* cdb : {&InquiryCdb, &IdentityCdb, &ReadBack1C000}) {
        Bytes data(0x4000);
        ExpectCheck(Send(*cdb, Dir::In, data), sense, 0x02, 0x04);
    }
    ExpectCheck(Send(Write1C000, Dir::Out, chunk), sense, 0x02, 0x04);
    EXPECT_FALSE(drive.ReceivedSinceCommit());
    drive.ClearFaults();
    EXPECT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
}

TEST_F(DriveTest, FailsTheNthCommandOnly) {
    drive.FailCommandNumber(3);
    Bytes data(36);
    EXPECT_EQ(Send(InquiryCdb, Dir::In, data).status, 0);
    ExpectCheck(Send({0x99}, Dir::None, nullptr, 0), sense, 0x05, 0x20);  // an invalid one counts too
    ExpectCheck(Send(InquiryCdb, Dir::In, data), sense, 0x04, 0x44);
    EXPECT_EQ(Send(InquiryCdb, Dir::In, data).status, 0);
}

TEST_F(DriveTest, KindRuleFailsTimesThenSucceeds) {
    struct Case { Kind kind; Command cmd; };
    const Case cases[] = {
        {Kind::Inquiry, {InquiryCdb, Dir::In, 36}},
        {Kind::Identity, {IdentityCdb, Dir::In, 16}},
        {Kind::WriteChunk, {Write1C000, Dir::Out, 0x4000}},
        {Kind::ReadBack, {ReadBack1C000, Dir::In, 0x4000}},
        {Kind::Dump, {Dump1C000, Dir::In, 0x4000}},
        {Kind::Commit, {CommitCdb, Dir::None, 0}},
        {Kind::Any, {IdentityCdb, Dir::In, 16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        drive.ClearFaults();
        // Received data keeps the commit valid; written elsewhere so that a failed chunk write
        // leaking into the staging area would show.
        Bytes small(0x10, 0x11);
        ASSERT_EQ(Send({0x3B, 0x07, 0x00, 0, 0, 0, 0, 0, 0x10, 0}, Dir::Out, small).status, 0);
        ASSERT_TRUE(drive.FailCommand(c.kind, EmulatedDrive::AnyOffset, 2));
        const Bytes flashBefore = flash;
        const Bytes stagingBefore = staging;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto r = Run(c.cmd);
            ExpectCheck(r, sense, 0x04, 0x44);
            EXPECT_EQ(r.transferred, 0u);
            EXPECT_TRUE(flash == flashBefore && staging == stagingBefore);
        }
        EXPECT_EQ(Run(c.cmd).status, 0);
    }
}

TEST_F(DriveTest, OffsetRuleHitsOnlyChunksContainingTheOffset) {
    ASSERT_TRUE(drive.FailCommand(Kind::WriteChunk, 0x1FFFF, 1));
    Bytes small(0x10, 0x11);
    EXPECT_EQ(Send({0x3B, 0x07, 0x02, 0, 0, 0, 0, 0, 0x10, 0}, Dir::Out, small).status, 0);
    EXPECT_EQ(Send({0x3B, 0x07, 0x01, 0, 0xFF, 0xEF, 0, 0, 0x10, 0}, Dir::Out, small).status, 0);
    ExpectCheck(Send(Write1C000, Dir::Out, chunk), sense, 0x04, 0x44);
    EXPECT_EQ(staging[0x1C000], 0xC0);
    EXPECT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
}

TEST_F(DriveTest, RuleCarriesItsOwnSense) {
    EmulatedDrive::FaultRule rule;
    rule.kind = Kind::Commit;
    rule.senseKey = 0x06;
    rule.asc = 0x29;
    ASSERT_TRUE(drive.AddFault(rule));
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    ExpectCheck(Send(CommitCdb, Dir::None, nullptr, 0), sense, 0x06, 0x29);
    EXPECT_EQ(flash[0x1C000], 0xC0);
    EXPECT_EQ(drive.CommitCount(), 0u);
    EXPECT_TRUE(drive.ReceivedSinceCommit());
}

TEST_F(DriveTest, CorruptReadBackFlipsTheByteButAnswersGood) {
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    ASSERT_TRUE(drive.CorruptReadBack(0x1C005, 1));
    EXPECT_EQ(ReadBack(Dump1C000, 0x4000)[5], 0xC5) << "a dump is not a read-back";
    Bytes got = ReadBack(ReadBack1C000, 0x4000);
    EXPECT_EQ(got[5], 0x55);  // 0xAA flipped
    EXPECT_EQ(got[4], 0xA9);
    EXPECT_EQ(got[6], 0xB7);
    EXPECT_EQ(staging[0x1C005], 0xAA) << "corruption must not reach the staging area";
    EXPECT_EQ(ReadBack(ReadBack1C000, 0x4000), chunk);
}

TEST_F(DriveTest, IdentityCheckConditionStillFillsTheBuffer) {
    drive.SetIdentityCheckWithData(true);
    Bytes data(16, 0x5A);
    const auto r = Send(IdentityCdb, Dir::In, data);
    ExpectCheck(r, sense, 0x04, 0x44);
    EXPECT_EQ(r.transferred, 16u);
    EXPECT_EQ((Bytes{data[0], data[1], data[2], data[3]}), (Bytes{0x7C, 0x4A, 0x15, 0x6E}));
}

TEST_F(DriveTest, RuleTableHoldsEightLiveRules) {
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(drive.FailCommand(Kind::Inquiry, EmulatedDrive::AnyOffset, 1));
    }
    EXPECT_FALSE(drive.FailCommand(Kind::Inquiry, EmulatedDrive::AnyOffset, 1));
    Bytes data(36);
    ExpectCheck(Send(InquiryCdb, Dir::In, data), sense, 0x04, 0x44);  // frees one slot
    EXPECT_TRUE(drive.FailCommand(Kind::Inquiry, EmulatedDrive::AnyOffset, 1));
}

// --- unit attention and becoming ready -------------------------------------------------

const Bytes TurCdb = {0x00, 0, 0, 0, 0, 0};
const Bytes RequestSenseCdb = {0x03, 0, 0, 0, 0xFC, 0};

struct Sense { uint8_t key, asc, ascq; };

void ExpectSense(const EmulatedDrive::Result& r, const uint8_t* sense, Sense want) {
    ExpectCheck(r, sense, want.key, want.asc);
    EXPECT_EQ(r.ascq, want.ascq);
    EXPECT_EQ(sense[13], want.ascq);
}

TEST_F(DriveTest, AttentionAnswersTheNthCommandOfItsKindOnly) {
    struct Case { const char* name; Kind kind; uint32_t nth; Command cmd; Command other; };
    const Command inquiry = {InquiryCdb, Dir::In, 36};
    const Case cases[] = {
        {"first write", Kind::WriteChunk, 1, {Write1C000, Dir::Out, 0x4000}, inquiry},
        {"third read-back", Kind::ReadBack, 3, {ReadBack1C000, Dir::In, 0x4000}, inquiry},
        {"second dump", Kind::Dump, 2, {Dump1C000, Dir::In, 0x4000}, {ReadBack1C000, Dir::In, 0x4000}},
        {"second inquiry", Kind::Inquiry, 2, inquiry, {IdentityCdb, Dir::In, 16}},
        {"first commit", Kind::Commit, 1, {CommitCdb, Dir::None, 0}, inquiry},
        // Standard commands are no kind at all: the VPD inquiries between do not count.
        {"any, second", Kind::Any, 2, {IdentityCdb, Dir::In, 16}, {{0x12, 0x01, 0x00, 0x00, 0xFF, 0x00}, Dir::In, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.ClearFaults();
        drive.ClearLog();
        Bytes small(0x10, 0x11);  // keeps a commit valid, away from the chunk
        ASSERT_EQ(Send({0x3B, 0x07, 0x00, 0, 0, 0, 0, 0, 0x10, 0}, Dir::Out, small).status, 0);
        drive.SetAttention(c.kind, c.nth);
        for (uint32_t i = 1; i < c.nth; ++i) {
            EXPECT_EQ(Run(c.other).status, 0);
            EXPECT_EQ(Run(c.cmd).status, 0) << "command " << i << " of its kind";
        }
        EXPECT_EQ(Run(c.other).status, 0) << "another kind does not count";
        const Bytes flashBefore = flash, stagingBefore = staging;
        const uint32_t commits = drive.CommitCount();
        const auto r = Run(c.cmd);
        ExpectSense(r, sense, {0x06, 0x29, 0x00});
        EXPECT_EQ(r.transferred, 0u);
        EXPECT_TRUE(buffer.empty() || buffer[0] == 0x5A) << "data returned with the attention";
        EXPECT_TRUE(flash == flashBefore && staging == stagingBefore);
        EXPECT_EQ(drive.CommitCount(), commits);
        const EmulatedDrive::LogEntry* logged = drive.LogAt(drive.CommandCount() - 1);
        ASSERT_NE(logged, nullptr);
        EXPECT_EQ((Bytes{logged->status, logged->senseKey, logged->asc, logged->ascq}), (Bytes{2, 0x06, 0x29, 0x00}));
        EXPECT_EQ(Run(c.cmd).status, 0) << "once only";
    }
}

TEST_F(DriveTest, ConditionsAfterACommitComeInOrderAndSkipInquiry) {
    // What the TEST UNIT READYs after a commit get, one Sense per command; the drive holds no
    // disc, as during an upgrade, so that its own answer is medium not present.
    struct Case { const char* name; bool attention; uint32_t notReady; bool commitFails; std::vector<Sense> turs; };
    const Sense empty = {0x02, 0x3A, 0x00}, changed = {0x06, 0x3F, 0x01}, becoming = {0x02, 0x04, 0x01};
    const Case cases[] = {
        {"attention", true, 0, false, {changed, empty, empty}},
        {"not ready for 3", false, 3, false, {becoming, becoming, becoming, empty}},
        {"attention, then not ready for 2", true, 2, false, {changed, becoming, becoming, empty}},
        {"a failed commit starts neither", true, 2, true, {empty}},
        {"nothing asked", false, 0, false, {empty}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.ClearFaults();
        drive.ClearLog();
        drive.SetAttentionAfterCommit(c.attention);
        drive.SetNotReadyAfterCommit(c.notReady);
        ExpectSense(Send(TurCdb, Dir::None, nullptr, 0), sense, empty);  // nothing before a commit
        ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
        if (c.commitFails) {
            ASSERT_TRUE(drive.FailCommand(Kind::Commit, EmulatedDrive::AnyOffset, 1));
        }
        ASSERT_EQ(Send(CommitCdb, Dir::None, nullptr, 0).status, c.commitFails ? 2 : 0);
        const Bytes flashAfterCommit = flash;

        // INQUIRY passes through untouched and uses nothing up.
        Bytes data(36, 0);
        const auto inquiry = Send(InquiryCdb, Dir::In, data);
        EXPECT_EQ(inquiry.status, 0);
        EXPECT_EQ(inquiry.transferred, 36u);
        EXPECT_EQ(data[8], 'E');
        const uint32_t first = drive.CommandCount();
        for (const Sense& want : c.turs) {
            const auto r = Send(TurCdb, Dir::None, nullptr, 0);
            if (want.key == 0) {
                EXPECT_EQ(r.status, 0);
            } else {
                ExpectSense(r, sense, want);
            }
        }
        for (size_t i = 0; i < c.turs.size(); ++i) {
            const EmulatedDrive::LogEntry* e = drive.LogAt(first + static_cast<uint32_t>(i));
            ASSERT_NE(e, nullptr);
            EXPECT_EQ((Bytes{e->status, e->senseKey, e->asc, e->ascq}),
                      (Bytes{static_cast<uint8_t>(c.turs[i].key != 0 ? 2 : 0), c.turs[i].key, c.turs[i].asc,
                             c.turs[i].ascq}))
                << "log entry " << i;
        }
        EXPECT_TRUE(flash == flashAfterCommit);
        drive.ResetStaging();
    }
}

TEST_F(DriveTest, CommandsMetByAConditionAreNotCarriedOut) {
    drive.SetAttentionAfterCommit(true);
    drive.SetNotReadyAfterCommit(1);
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    ASSERT_EQ(Send(CommitCdb, Dir::None, nullptr, 0).status, 0);
    Bytes other(0x4000, 0x77);
    const Bytes stagingBefore = staging;
    ExpectSense(Send(Write1C000, Dir::Out, other), sense, {0x06, 0x3F, 0x01});
    // Even a command it would reject meets the condition first.
    ExpectSense(Send({0x99}, Dir::None, nullptr, 0), sense, {0x02, 0x04, 0x01});
    EXPECT_TRUE(staging == stagingBefore);
    EXPECT_FALSE(drive.ReceivedSinceCommit());
    EXPECT_EQ(Send(Write1C000, Dir::Out, other).status, 0);
    EXPECT_EQ(staging[0x1C000], 0x77);
}

TEST_F(DriveTest, RequestSenseReturnsTheConditionAsDataAndClearsIt) {
    drive.SetAttentionAfterCommit(true);
    drive.SetNotReadyAfterCommit(1);
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    ASSERT_EQ(Send(CommitCdb, Dir::None, nullptr, 0).status, 0);
    const Sense expected[] = {{0x06, 0x3F, 0x01}, {0x02, 0x04, 0x01}, {0x00, 0x00, 0x00}};
    for (const Sense& want : expected) {
        Bytes data(252, 0x5A);
        const auto r = Send(RequestSenseCdb, Dir::In, data);
        EXPECT_EQ(r.status, 0);
        ASSERT_EQ(r.transferred, 18u);
        EXPECT_EQ((Bytes{data[0], data[2], data[7], data[12], data[13], data[18]}),
                  (Bytes{0x70, want.key, 0x0A, want.asc, want.ascq, 0x5A}));
    }
    ExpectSense(Send(TurCdb, Dir::None, nullptr, 0), sense, {0x02, 0x3A, 0x00});
}

TEST_F(DriveTest, ClassifyTellsTheKindAsTheDriveStandsAndChangesNothing) {
    struct Case { const char* name; Command cmd; Kind kind; };
    const Case before[] = {
        {"inquiry", {InquiryCdb, Dir::In, 36}, Kind::Inquiry},
        {"VPD page", {{0x12, 0x01, 0x83, 0x00, 0xFF, 0x00}, Dir::In, 255}, Kind::Standard},
        {"identity", {IdentityCdb, Dir::In, 16}, Kind::Identity},
        {"dump", {Dump1C000, Dir::In, 0x4000}, Kind::Dump},
        {"read-back", {ReadBack1C000, Dir::In, 0x4000}, Kind::ReadBack},
        {"write", {Write1C000, Dir::Out, 0x4000}, Kind::WriteChunk},
        {"write past the end", {{0x3B, 0x07, 0x04, 0, 0, 0, 0, 0, 0x01, 0}, Dir::Out, 1}, Kind::Other},
        {"dump into a short buffer", {Dump1C000, Dir::In, 0x3FFF}, Kind::Other},
        {"commit with nothing received", {CommitCdb, Dir::None, 0}, Kind::Other},
        {"test unit ready", {TurCdb, Dir::None, 0}, Kind::Standard},
        {"read(10) without a disc", {{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Dir::In, 2048}, Kind::Standard},
        {"read(10) into a short buffer", {{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Dir::In, 2047}, Kind::Other},
        {"eject", {{0x1B, 0, 0, 0, 0x02, 0}, Dir::None, 0}, Kind::Standard},
        {"unknown opcode", {{0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, Dir::In, 2048}, Kind::Other},
        {"no cdb", {{}, Dir::None, 0}, Kind::Other},
    };
    for (const Case& c : before) {
        SCOPED_TRACE(c.name);
        buffer.assign(c.cmd.hostLength, 0x5A);
        EmulatedDrive::Request r;
        r.cdb = c.cmd.cdb.data();
        r.cdbLength = static_cast<uint32_t>(c.cmd.cdb.size());
        r.direction = c.cmd.dir;
        r.data = buffer.data();
        r.dataLength = c.cmd.hostLength;
        EXPECT_EQ(drive.Classify(r), c.kind);
    }
    EXPECT_EQ(drive.CommandCount(), 0u);
    EXPECT_FALSE(drive.ReceivedSinceCommit());
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    EmulatedDrive::Request commit;
    commit.cdb = CommitCdb.data();
    commit.cdbLength = 10;
    EXPECT_EQ(drive.Classify(commit), Kind::Commit) << "valid once data is received";
}

// --- log ----------------------------------------------------------------------------------

TEST_F(DriveTest, LogRecordsCdbFieldsAndOutcome) {
    ASSERT_EQ(Send(Write1C000, Dir::Out, chunk).status, 0);
    Bytes data(16);
    Send({0x3C, 0x02, 0x05, 0x12, 0x34, 0x56, 0x00, 0x00, 0x10, 0x00}, Dir::In, data);
    Send({0x12, 0x00, 0x00, 0x01, 0x02, 0x00}, Dir::In, data);

    ASSERT_EQ(drive.CommandCount(), 3u);
    const EmulatedDrive::LogEntry* w = drive.LogAt(0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->opcode, 0x3B);
    EXPECT_EQ(w->mode, 7);
    EXPECT_EQ(w->bufferId, 1);
    EXPECT_EQ(w->bufferOffset, 0xC000u);
    EXPECT_EQ(w->length, 0x4000u);
    EXPECT_EQ(w->control, 0x00);
    EXPECT_EQ(w->direction, Dir::Out);
    EXPECT_EQ(w->hostDataLength, 0x4000u);
    EXPECT_EQ(w->status, 0);
    EXPECT_EQ(w->senseKey, 0);

    const EmulatedDrive::LogEntry* bad = drive.LogAt(1);
    EXPECT_EQ(bad->bufferId, 5);
    EXPECT_EQ(bad->bufferOffset, 0x123456u);
    EXPECT_EQ(bad->status, 2);
    EXPECT_EQ(bad->senseKey, 0x05);
    EXPECT_EQ(bad->asc, 0x21);

    EXPECT_EQ(drive.LogAt(2)->length, 0x102u);
    EXPECT_EQ(drive.LogAt(3), nullptr);
}

TEST_F(DriveTest, LogKeepsTheFirstEntriesAndCountsTheRest) {
    Bytes data(36);
    auto inquiry = [&](uint8_t alloc) { Send({0x12, 0x00, 0x00, 0x00, alloc, 0x00}, Dir::In, data); };
    inquiry(1);
    for (int i = 0; i < 1022; ++i) {
        inquiry(0x24);
    }
    inquiry(2);  // the 1024th, the last one kept
    for (int i = 0; i < 6; ++i) {
        inquiry(3);
    }
    EXPECT_EQ(drive.CommandCount(), 1030u);
    EXPECT_EQ(drive.LogSize(), 1024u);
    EXPECT_EQ(drive.LogAt(0)->length, 1u);
    EXPECT_EQ(drive.LogAt(1023)->length, 2u);
    EXPECT_EQ(drive.LogAt(1024), nullptr);
    drive.ClearLog();
    EXPECT_EQ(drive.CommandCount(), 0u);
    EXPECT_EQ(drive.LogAt(0), nullptr);
}

}  // namespace

namespace {

// --- what every drive is asked -----------------------------------------------------------

TEST_F(DriveTest, AnswersTheStandardCommandsOfAnyDrive) {
    config.SetSerial("SN42");
    Reattach();
    InsertDisc(3);
    struct Case { const char* name; Bytes cdb; Dir dir; uint32_t host; Bytes answer; };
    const Bytes serial = {'S', 'N', '4', '2', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    Bytes page80 = {0x05, 0x80, 0x00, 0x10};
    page80.insert(page80.end(), serial.begin(), serial.end());
    Bytes page83 = {0x05, 0x83, 0x00, 0x2C, 0x02, 0x01, 0x00, 0x28,
                    'E', 'M', 'U', 'L', 'A', 'T', 'E', 'D',
                    'D', 'V', 'D', '-', 'R', 'W', ' ', 'F', 'L', 'A', 'S', 'H', ' ', ' ', ' ', ' '};
    page83.insert(page83.end(), serial.begin(), serial.end());
    const Case cases[] = {
        {"test unit ready", {0x00, 0, 0, 0, 0, 0}, Dir::None, 0, {}},
        {"read capacity", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::In, 8, {0, 0, 0, 2, 0x00, 0x00, 0x08, 0x00}},
        {"read capacity cut to 4", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::In, 4, {0, 0, 0, 2}},
        {"request sense", {0x03, 0, 0, 0, 0xFC, 0}, Dir::In, 252,
         {0x70, 0, 0, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"request sense cut to 8", {0x03, 0, 0, 0, 8, 0}, Dir::In, 64, {0x70, 0, 0, 0, 0, 0, 0, 0x0A}},
        {"mode sense(6) all pages", {0x1A, 0x00, 0x3F, 0, 0xFF, 0}, Dir::In, 255, {0x03, 0, 0, 0}},
        {"mode sense(6) page 2A", {0x1A, 0x08, 0x2A, 0, 0x80, 0}, Dir::In, 128, {0x03, 0, 0, 0}},
        {"mode sense(10)", {0x5A, 0x00, 0x3F, 0, 0, 0, 0, 0x01, 0x00, 0}, Dir::In, 256, {0, 0x06, 0, 0, 0, 0, 0, 0}},
        {"VPD 00", {0x12, 0x01, 0x00, 0x00, 0xFF, 0x00}, Dir::In, 255, {0x05, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83}},
        {"VPD 00 header only", {0x12, 0x01, 0x00, 0x00, 0x04, 0x00}, Dir::In, 255, {0x05, 0x00, 0x00, 0x03}},
        {"VPD 80", {0x12, 0x01, 0x80, 0x00, 0xFF, 0x00}, Dir::In, 255, page80},
        {"VPD 83", {0x12, 0x01, 0x83, 0x00, 0xFF, 0x00}, Dir::In, 255, page83},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Run({c.cdb, c.dir, c.host});
        EXPECT_EQ(r.status, 0);
        ASSERT_EQ(r.transferred, c.answer.size());
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.answer.size()), c.answer);
    }
    EXPECT_EQ(drive.CommandCount(), sizeof cases / sizeof cases[0]);
}

TEST_F(DriveTest, WithoutASerialNumberThePageIsNotOffered) {
    Bytes data(64);
    auto r = Send({0x12, 0x01, 0x00, 0x00, 0x40, 0x00}, Dir::In, data);
    ASSERT_EQ(r.transferred, 6u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 6), (Bytes{0x05, 0x00, 0x00, 0x02, 0x00, 0x83}));
    r = Send({0x12, 0x01, 0x83, 0x00, 0x40, 0x00}, Dir::In, data);
    EXPECT_EQ(r.transferred, 4u + 4u + 24u) << "vendor and product only";
    EXPECT_EQ(data[7], 24);
}

TEST_F(DriveTest, StandardCommandsRejectedOrLoggedLikeAnyOther) {
    struct Case { const char* name; Bytes cdb; Dir dir; uint32_t host; uint8_t asc; };
    const Case cases[] = {
        {"VPD page E1", {0x12, 0x01, 0xE1, 0x00, 0x40, 0x00}, Dir::In, 64, 0x24},
        {"VPD 80 without EVPD", {0x12, 0x00, 0x80, 0x00, 0x40, 0x00}, Dir::In, 64, 0x24},
        {"get configuration", {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0x10, 0}, Dir::In, 16, 0x20},
        {"read toc", {0x43, 0x02, 0, 0, 0, 0, 0, 0, 0x0C, 0}, Dir::In, 12, 0x20},
        {"prevent allow medium removal", {0x1E, 0, 0, 0, 0, 0}, Dir::None, 0, 0x20},
        {"mode sense(10) in 6 bytes", {0x5A, 0, 0x3F, 0, 0, 0}, Dir::In, 8, 0x24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = Run({c.cdb, c.dir, c.host});
        ExpectCheck(r, sense, 0x05, c.asc);
    }
    // The marker shows in the log with its page, which is what a test cuts the log at.
    const EmulatedDrive::LogEntry* marker = drive.LogAt(0);
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->opcode, 0x12);
    EXPECT_EQ(marker->mode, 1);
    EXPECT_EQ(marker->bufferId, 0xE1);
    EXPECT_EQ(marker->length, 0x40u);
}

TEST_F(DriveTest, FaultRulesNeverMeetTheStandardCommands) {
    InsertDisc(1);
    ASSERT_TRUE(drive.FailCommand(Kind::Any, EmulatedDrive::AnyOffset, 1));
    ASSERT_TRUE(drive.CorruptReadBack(EmulatedDrive::AnyOffset, 1));
    Bytes data(2048);
    EXPECT_EQ(Send({0x00, 0, 0, 0, 0, 0}, Dir::None, nullptr, 0).status, 0);
    EXPECT_EQ(Send({0x12, 0x01, 0x00, 0x00, 0x40, 0x00}, Dir::In, data).status, 0);
    EXPECT_EQ(Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::In, data).status, 0);
    EXPECT_EQ(Send({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Dir::In, data).status, 0);
    EXPECT_EQ(data, Bytes(2048, 0x01)) << "no byte flipped";
    EXPECT_EQ(Send({0x1B, 0, 0, 0, 0x01, 0}, Dir::None, nullptr, 0).status, 0);
    EXPECT_EQ(Send(InquiryCdb, Dir::In, data).status, 2) << "the rule is still there for the family's commands";
    // Yet a drive that is gone is gone for everything.
    drive.SetGone(true);
    const auto r = Send({0x00, 0, 0, 0, 0, 0}, Dir::None, nullptr, 0);
    ExpectCheck(r, sense, 0x02, 0x04);
}

// --- the disc ------------------------------------------------------------------------------

const Bytes ReadCapacityCdb = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};

Bytes Read10(uint32_t lba, uint16_t blocks) {
    return {0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
            static_cast<uint8_t>(lba), 0, static_cast<uint8_t>(blocks >> 8), static_cast<uint8_t>(blocks), 0};
}

Bytes StartStop(uint8_t flags) { return {0x1B, 0, 0, 0, flags, 0}; }

// One command of a run against the disc, and what the drive answers: GOOD ({0,0,0}) with the
// blocks it read (their fill values) or the capacity bytes, or the sense of a CHECK CONDITION.
struct DiscStep {
    const char* name;
    Command cmd;
    Sense answer;
    Bytes data;
};

void RunDiscSteps(const std::vector<DiscStep>& steps, const std::function<EmulatedDrive::Result(const Command&)>& run,
                  const uint8_t* sense, const Bytes& buffer) {
    for (const DiscStep& step : steps) {
        SCOPED_TRACE(step.name);
        const auto r = run(step.cmd);
        if (step.answer.key != 0) {
            ExpectSense(r, sense, step.answer);
            EXPECT_EQ(r.transferred, 0u);
            EXPECT_TRUE(buffer.empty() || buffer[0] == 0x5A) << "data moved with a CHECK CONDITION";
            continue;
        }
        EXPECT_EQ(r.status, 0);
        const bool blocks = step.cmd.cdb[0] == 0x28;
        ASSERT_EQ(r.transferred, blocks ? step.data.size() * 2048 : step.data.size());
        for (size_t i = 0; i < r.transferred; ++i) {
            ASSERT_EQ(buffer[i], blocks ? step.data[i / 2048] : step.data[i]) << "byte " << i;
        }
    }
}

TEST_F(DriveTest, WithoutADiscTheDriveSaysSoAndNothingLoadsOne) {
    const Sense empty = {0x02, 0x3A, 0x00};
    const std::vector<DiscStep> steps = {
        {"test unit ready", {TurCdb, Dir::None, 0}, empty, {}},
        {"read capacity", {ReadCapacityCdb, Dir::In, 8}, empty, {}},
        {"read(10)", {Read10(0, 1), Dir::In, 2048}, empty, {}},
        {"read(10) of no block", {Read10(0, 0), Dir::In, 0}, empty, {}},
        {"load", {StartStop(0x03), Dir::None, 0}, {0, 0, 0}, {}},
        {"still nothing to read", {Read10(0, 1), Dir::In, 2048}, empty, {}},
        {"eject", {StartStop(0x02), Dir::None, 0}, {0, 0, 0}, {}},
        {"inquiry answers as ever", {InquiryCdb, Dir::In, 5}, {0, 0, 0}, {0x05, 0x80, 0x00, 0x02, 0x1F}},
    };
    RunDiscSteps(steps, [this](const Command& c) { return Run(c); }, sense, buffer);
    EXPECT_FALSE(drive.MediumLoaded());
}

TEST_F(DriveTest, ADiscAnswersItsBlocksAndGoesOutAndBackIn) {
    InsertDisc(4, 2);
    const Sense empty = {0x02, 0x3A, 0x00}, outOfRange = {0x05, 0x21, 0x00};
    const std::vector<DiscStep> steps = {
        {"test unit ready", {TurCdb, Dir::None, 0}, {0, 0, 0}, {}},
        {"read capacity: last block 3, 2048 bytes", {ReadCapacityCdb, Dir::In, 8}, {0, 0, 0}, {0, 0, 0, 3, 0, 0, 8, 0}},
        {"the first two blocks", {Read10(0, 2), Dir::In, 8192}, {0, 0, 0}, {1, 2}},
        {"the last block", {Read10(3, 1), Dir::In, 2048}, {0, 0, 0}, {4}},
        {"a block the disc cannot give", {Read10(1, 2), Dir::In, 4096}, {0x03, 0x11, 0x00}, {}},
        {"past the end", {Read10(3, 2), Dir::In, 4096}, outOfRange, {}},
        {"no block at the end", {Read10(4, 0), Dir::In, 0}, {0, 0, 0}, {}},
        {"no block beyond the end", {Read10(5, 0), Dir::In, 0}, outOfRange, {}},
        {"the last address there is", {Read10(0xFFFFFFFFu, 1), Dir::In, 2048}, outOfRange, {}},
        {"stop without LoEj", {StartStop(0x00), Dir::None, 0}, {0, 0, 0}, {}},
        {"eject with a power condition", {StartStop(0x32), Dir::None, 0}, {0, 0, 0}, {}},
        {"still in", {TurCdb, Dir::None, 0}, {0, 0, 0}, {}},
        {"eject", {StartStop(0x02), Dir::None, 0}, {0, 0, 0}, {}},
        {"out: test unit ready", {TurCdb, Dir::None, 0}, empty, {}},
        {"out: read capacity", {ReadCapacityCdb, Dir::In, 8}, empty, {}},
        {"out: read(10)", {Read10(0, 1), Dir::In, 2048}, empty, {}},
        {"start without LoEj", {StartStop(0x01), Dir::None, 0}, {0, 0, 0}, {}},
        {"still out", {TurCdb, Dir::None, 0}, empty, {}},
        {"load", {StartStop(0x03), Dir::None, 0}, {0, 0, 0}, {}},
        {"in again", {Read10(3, 1), Dir::In, 2048}, {0, 0, 0}, {4}},
    };
    RunDiscSteps(steps, [this](const Command& c) { return Run(c); }, sense, buffer);
    // The log tells a read by its blocks and a START STOP UNIT by its flags.
    const EmulatedDrive::LogEntry* read = drive.LogAt(3);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ((std::vector<uint32_t>{read->opcode, read->bufferOffset, read->length}), (std::vector<uint32_t>{0x28, 3, 1}));
    EXPECT_EQ(drive.LogAt(12)->mode, 0x02);
    EXPECT_EQ(drive.LastCommand().bufferOffset, 3u);
    EXPECT_EQ(drive.CommitCount(), 0u);
    EXPECT_FALSE(drive.ReceivedSinceCommit());
}

}  // namespace
