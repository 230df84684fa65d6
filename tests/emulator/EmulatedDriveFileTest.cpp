#include "emulator/drive/EmulatedDriveFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using emulator::DriveConfig;
using emulator::EmulatedDrive;
using emulator::EmulatedDriveFile;
using Dir = EmulatedDrive::Direction;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t TestFlashSize = 0x20000;

class DriveFileTest : public ::testing::Test {
protected:
    DriveFileTest() {
        config.flashSize = TestFlashSize;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
        base = ::testing::TempDir() + "emudrive_" + info->name() + "_" + std::to_string(ticks);
    }

    ~DriveFileTest() override {
        std::remove((base + ".bin").c_str());
        std::remove((base + ".log").c_str());
    }

    static EmulatedDrive::Result Send(EmulatedDriveFile& d, const Bytes& cdb, Dir dir, Bytes* data) {
        EmulatedDrive::Request r;
        r.cdb = cdb.data();
        r.cdbLength = static_cast<uint32_t>(cdb.size());
        r.direction = dir;
        r.data = data != nullptr ? data->data() : nullptr;
        r.dataLength = data != nullptr ? static_cast<uint32_t>(data->size()) : 0;
        return d.Execute(r);
    }

    static Bytes ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    DriveConfig config;
    std::string base;
};

const Bytes Write04000 = {0x3B, 0x07, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00};
const Bytes CommitCdb = {0x3B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes Dump04000 = {0x3C, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x01};

TEST_F(DriveFileTest, CommittedFlashSurvivesIntoTheNextInstance) {
    const std::string path = base + ".bin";
    Bytes chunk(0x4000);
    for (size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    {
        EmulatedDriveFile first(config);
        ASSERT_TRUE(first.Create(path));
        ASSERT_EQ(Send(first, Write04000, Dir::Out, &chunk).status, 0);
        EXPECT_EQ(ReadFile(path)[0x4000], 0xFF) << "staged data must not reach the file";
        ASSERT_EQ(Send(first, CommitCdb, Dir::None, nullptr).status, 0);
        EXPECT_FALSE(first.SaveFailed());
    }
    const Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), TestFlashSize);
    EXPECT_EQ(file[0x3FFF], 0xFF);
    EXPECT_EQ(file[0x4000], 0x01);
    EXPECT_EQ(file[0x4001], 0x08);
    EXPECT_EQ(file[0x8000], 0xFF);

    EmulatedDriveFile second(config);
    ASSERT_TRUE(second.Open(path));
    Bytes dump(0x4000);
    ASSERT_EQ(Send(second, Dump04000, Dir::In, &dump).status, 0);
    EXPECT_EQ(dump, chunk);
    // Staging starts as a copy of the loaded flash, so a read-back of untouched areas agrees.
    Bytes back(0x4000);
    ASSERT_EQ(Send(second, {0x3C, 0x02, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00}, Dir::In, &back).status, 0);
    EXPECT_EQ(back, chunk);
}

TEST_F(DriveFileTest, OpenRefusesMissingAndWrongSizedImages) {
    const std::string path = base + ".bin";
    EmulatedDriveFile drive(config);
    EXPECT_FALSE(drive.Open(path));
    for (size_t size : {size_t{TestFlashSize - 1}, size_t{TestFlashSize + 1}, size_t{0}}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size, '\x11');
        EXPECT_FALSE(drive.Open(path)) << size;
        EXPECT_TRUE(drive.Path().empty());
        EXPECT_EQ(drive.FlashImage()[0], 0xFF) << "a refused image was loaded";
    }
}

TEST_F(DriveFileTest, PatternFillReachesFlashStagingAndFile) {
    const std::string path = base + ".bin";
    EmulatedDriveFile drive(config);
    ASSERT_TRUE(drive.Create(path));
    const uint8_t pattern[] = {0x01, 0x02, 0x03};
    ASSERT_TRUE(drive.FillPattern(pattern, sizeof pattern));
    EXPECT_EQ(Bytes(drive.FlashImage().begin(), drive.FlashImage().begin() + 5), (Bytes{1, 2, 3, 1, 2}));
    EXPECT_EQ(drive.Drive().Staging()[4], 0x02);
    EXPECT_EQ(drive.FlashImage()[TestFlashSize - 1], 0x02);  // 0x1FFFF % 3 == 1
    EXPECT_EQ(ReadFile(path), drive.FlashImage());
}

TEST_F(DriveFileTest, LogFileHasOneLinePerCommand) {
    EmulatedDriveFile drive(config);
    Bytes chunk(0x4000, 0x00);
    Bytes data(36);
    Send(drive, Write04000, Dir::Out, &chunk);
    Send(drive, {0xA8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x07}, Dir::In, &data);
    Send(drive, {0x12, 0x00, 0x00, 0x00, 0x24, 0x00}, Dir::In, &data);
    Send(drive, CommitCdb, Dir::None, nullptr);
    ASSERT_TRUE(drive.WriteLog(base + ".log"));
    const Bytes text = ReadFile(base + ".log");
    EXPECT_EQ(std::string(text.begin(), text.end()),
              "WRITE_BUFFER mode=7 id=0 offset=0x4000 length=0x4000 control=0x00 dir=out hostlength=0x4000 status=0 sense=0x00/0x00/0x00\n"
              "OP_0xA8 mode=0 id=0 offset=0x0 length=0x0 control=0x07 dir=in hostlength=0x24 status=2 sense=0x05/0x20/0x00\n"
              "INQUIRY mode=0 id=0 offset=0x0 length=0x24 control=0x00 dir=in hostlength=0x24 status=0 sense=0x00/0x00/0x00\n"
              "WRITE_BUFFER mode=4 id=0 offset=0x0 length=0x0 control=0x00 dir=none hostlength=0x0 status=0 sense=0x00/0x00/0x00\n");
}

TEST_F(DriveFileTest, LogFileSaysWhenCommandsWereNotLogged) {
    EmulatedDriveFile drive(config);
    Bytes data(36);
    for (int i = 0; i < 1025; ++i) {
        Send(drive, {0x12, 0x00, 0x00, 0x00, 0x24, 0x00}, Dir::In, &data);
    }
    ASSERT_TRUE(drive.WriteLog(base + ".log"));
    const Bytes text = ReadFile(base + ".log");
    const std::string s(text.begin(), text.end());
    const std::string tail = "# 1025 commands, first 1024 logged\n";
    ASSERT_GT(s.size(), tail.size());
    EXPECT_EQ(s.substr(s.size() - tail.size()), tail);
}

TEST_F(DriveFileTest, LatencyIsWaitedPerCommand) {
    EmulatedDriveFile drive(config);
    drive.Drive().SetLatencyMicroseconds(30000);
    Bytes data(36);
    const auto start = std::chrono::steady_clock::now();
    Send(drive, {0x12, 0x00, 0x00, 0x00, 0x24, 0x00}, Dir::In, &data);
    Send(drive, {0x12, 0x00, 0x00, 0x00, 0x24, 0x00}, Dir::In, &data);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

}  // namespace
