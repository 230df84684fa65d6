#include "emulator/drive/EmulatedDriveFile.h"

#include "emulator/drive/ConfiguredDrive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
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

    static std::string ReadText(const std::string& path) {
        const Bytes bytes = ReadFile(path);
        return std::string(bytes.begin(), bytes.end());
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
    // The log file gets each line as its command runs; the kept log, written at once, the same.
    std::ofstream(base + ".log", std::ios::binary) << "a stale log\n";
    EmulatedDriveFile drive(config);
    ASSERT_TRUE(drive.OpenLog(base + ".log"));
    EXPECT_EQ(ReadText(base + ".log"), "");
    Bytes chunk(0x4000, 0x00);
    Bytes data(0x1000);
    const std::string lines[] = {
        "WRITE_BUFFER mode=7 id=0 offset=0x4000 length=0x4000 control=0x00 dir=out hostlength=0x4000 status=0 sense=0x00/0x00/0x00\n",
        "OP_0xA8 mode=0 id=0 offset=0x0 length=0x0 control=0x07 dir=in hostlength=0x1000 status=2 sense=0x05/0x20/0x00\n",
        "INQUIRY mode=0 id=0 offset=0x0 length=0x24 control=0x00 dir=in hostlength=0x1000 status=0 sense=0x00/0x00/0x00\n",
        "OP_0x28 mode=0 id=0 offset=0x10 length=0x2 control=0x00 dir=in hostlength=0x1000 status=2 sense=0x02/0x3A/0x00\n",
        "OP_0x1B mode=2 id=0 offset=0x0 length=0x0 control=0x00 dir=none hostlength=0x0 status=0 sense=0x00/0x00/0x00\n",
        "WRITE_BUFFER mode=4 id=0 offset=0x0 length=0x0 control=0x00 dir=none hostlength=0x0 status=0 sense=0x00/0x00/0x00\n",
    };
    const std::vector<std::pair<Bytes, Dir>> commands = {
        {Write04000, Dir::Out},
        {{0xA8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x07}, Dir::In},
        {{0x12, 0x00, 0x00, 0x00, 0x24, 0x00}, Dir::In},
        {{0x28, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x02, 0x00}, Dir::In},
        {{0x1B, 0x00, 0x00, 0x00, 0x02, 0x00}, Dir::None},
        {CommitCdb, Dir::None},
    };
    std::string expected;
    for (size_t i = 0; i < commands.size(); ++i) {
        Bytes* buffer = commands[i].second == Dir::Out ? &chunk : commands[i].second == Dir::In ? &data : nullptr;
        Send(drive, commands[i].first, commands[i].second, buffer);
        expected += lines[i];
        EXPECT_EQ(ReadText(base + ".log"), expected) << "after command " << i;
    }
    EXPECT_FALSE(drive.LogFailed());
    ASSERT_TRUE(drive.WriteLog(base + ".kept.log"));
    EXPECT_EQ(ReadText(base + ".kept.log"), expected);
    std::remove((base + ".kept.log").c_str());
}

TEST_F(DriveFileTest, LogFileSaysWhenCommandsWereNotLogged) {
    // The kept log stops at its capacity and says so; the log file, written as the commands come,
    // has no capacity and every line.
    EmulatedDriveFile drive(config);
    ASSERT_TRUE(drive.OpenLog(base + ".all.log"));
    Bytes data(36);
    for (int i = 0; i < 1025; ++i) {
        Send(drive, {0x12, 0x00, 0x00, 0x00, static_cast<uint8_t>(i == 1024 ? 0x23 : 0x24), 0x00}, Dir::In, &data);
    }
    ASSERT_TRUE(drive.WriteLog(base + ".log"));
    const std::string s = ReadText(base + ".log");
    const std::string tail = "# 1025 commands, first 1024 logged\n";
    ASSERT_GT(s.size(), tail.size());
    EXPECT_EQ(s.substr(s.size() - tail.size()), tail);
    const std::string all = ReadText(base + ".all.log");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1025);
    EXPECT_EQ(all.find('#'), std::string::npos);
    EXPECT_NE(all.find("length=0x23 "), std::string::npos) << "the 1025th command";
    std::remove((base + ".all.log").c_str());
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

// --- saves, the disc, a configured drive ---------------------------------------------------

#ifdef _WIN32
int MakeDirectory(const std::string& path) { return _mkdir(path.c_str()); }
int DeleteDirectory(const std::string& path) { return _rmdir(path.c_str()); }
#else
int MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0700); }
int DeleteDirectory(const std::string& path) { return rmdir(path.c_str()); }
#endif

// The file's number on its disk; 0 for none, and on Windows, whose C runtime gives none.
uint64_t InodeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_ino) : 0;
}

TEST_F(DriveFileTest, ACommitIsSavedWholeOrAnsweredAsAWriteError) {
    // What stands in the way of the save; each stops root as well as anyone.
    struct Case {
        const char* name;
        void (*block)(const std::string& directory, const std::string& path);
        void (*unblock)(const std::string& directory, const std::string& path);
    };
    const Case cases[] = {
        {"nothing", nullptr, nullptr},
        {"a directory where the temporary file goes",
         [](const std::string&, const std::string& path) { MakeDirectory(path + ".tmp"); },
         [](const std::string&, const std::string& path) { DeleteDirectory(path + ".tmp"); }},
        {"the file's directory gone",
         [](const std::string& directory, const std::string& path) {
             std::remove(path.c_str());
             DeleteDirectory(directory);
         },
         [](const std::string& directory, const std::string&) { MakeDirectory(directory); }},
    };
    Bytes chunk(0x4000, 0x5C);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string directory = base + ".d";
        const std::string path = directory + "/flash.bin";
        ASSERT_EQ(MakeDirectory(directory), 0);
        {
            EmulatedDriveFile drive(config);
            ASSERT_TRUE(drive.Create(path));
            ASSERT_TRUE(drive.OpenLog(base + ".log"));
            uint64_t before = InodeOf(path);
            ASSERT_EQ(Send(drive, Write04000, Dir::Out, &chunk).status, 0);
            if (c.block != nullptr) {
                c.block(directory, path);
                const EmulatedDrive::Result r = Send(drive, CommitCdb, Dir::None, nullptr);
                EXPECT_EQ((Bytes{r.status, r.senseKey, r.asc, r.ascq}), (Bytes{0x02, 0x03, 0x0C, 0x00}));
                EXPECT_TRUE(drive.SaveFailed());
                EXPECT_EQ(drive.FlashImage()[0x4000], 0xFF) << "a commit that was not saved did not happen";
                EXPECT_TRUE(drive.Drive().ReceivedSinceCommit()) << "it may be sent again";
                EXPECT_FALSE(drive.Save()) << "nor does any other save get through";
                const Bytes file = ReadFile(path);
                EXPECT_TRUE(file.empty() || file == Bytes(TestFlashSize, 0xFF)) << "the file is the old one, whole";
                if (file.empty()) before = 0;  // gone with its directory: its number may come back
                EXPECT_NE(ReadText(base + ".log").find("WRITE_BUFFER mode=4 id=0 offset=0x0 length=0x0 control=0x00 "
                                                       "dir=none hostlength=0x0 status=2 sense=0x03/0x0C/0x00\n"),
                          std::string::npos);
                c.unblock(directory, path);
            }
            ASSERT_EQ(Send(drive, CommitCdb, Dir::None, nullptr).status, 0);
            EXPECT_FALSE(drive.SaveFailed());
            const Bytes file = ReadFile(path);
            ASSERT_EQ(file.size(), TestFlashSize);
            EXPECT_EQ(Bytes(file.begin() + 0x4000, file.begin() + 0x8000), chunk);
            EXPECT_EQ(file[0x8000], 0xFF);
            if (before != 0) {
                EXPECT_NE(InodeOf(path), before) << "replaced, not rewritten in place";
            }
            EXPECT_FALSE(std::ifstream(path + ".tmp").good()) << "no temporary file left";
        }
        std::remove(path.c_str());
        DeleteDirectory(directory);
    }
}

TEST_F(DriveFileTest, ADiscIsAnImageOfWholeBlocks) {
    // One drive through every case, so that a refused image is seen to leave no disc behind.
    struct Case {
        const char* name;
        long size;  // -1: a directory stands there, -2: nothing does
        const char* problem;  // after the path; nullptr: taken
    };
    const Case cases[] = {
        {"three blocks", 6144, nullptr},
        {"not whole blocks", 6000, " holds 6000 bytes, not whole blocks of 2048"},
        {"one block", 2048, nullptr},
        {"empty", 0, " is empty"},
        {"missing", -2, " cannot be read as a file"},
        {"a directory", -1, " cannot be read as a file"},
    };
    const std::string path = base + ".iso";
    EmulatedDriveFile drive(config);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image(c.size > 0 ? static_cast<size_t>(c.size) : 0);
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 % 251);
        if (c.size == -1) {
            ASSERT_EQ(MakeDirectory(path), 0);
        } else if (c.size >= 0) {
            std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(image.data()),
                                                                         static_cast<std::streamsize>(image.size()));
        }
        std::string problem;
        EXPECT_EQ(drive.OpenMedium(path, problem), c.problem == nullptr);
        EXPECT_EQ(problem, c.problem == nullptr ? "" : path + c.problem);
        Bytes capacity(8);
        const EmulatedDrive::Result r = Send(drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Dir::In, &capacity);
        if (c.problem != nullptr) {
            EXPECT_EQ((Bytes{r.status, r.senseKey, r.asc}), (Bytes{0x02, 0x02, 0x3A}));
        } else {
            const uint8_t last = static_cast<uint8_t>(c.size / 2048 - 1);
            EXPECT_EQ(capacity, (Bytes{0, 0, 0, last, 0, 0, 0x08, 0}));
            Bytes block(2048);
            ASSERT_EQ(Send(drive, {0x28, 0, 0, 0, 0, last, 0, 0, 1, 0}, Dir::In, &block).status, 0);
            EXPECT_EQ(block, Bytes(image.end() - 2048, image.end()));
        }
        if (c.size == -1) DeleteDirectory(path); else std::remove(path.c_str());
    }
}

TEST_F(DriveFileTest, AConfiguredDriveStartsAsItsSettingsSayOrSaysWhyNot) {
    struct Case {
        const char* name;
        void (*arrange)(emulator::DriveSettings& settings, const std::string& at);
        std::string problem;  // with BASE for the test's paths
    };
    const Case cases[] = {
        {"as configured", [](emulator::DriveSettings&, const std::string&) {}, ""},
        {"a flash file of another size",
         [](emulator::DriveSettings&, const std::string& at) { std::ofstream(at + ".bin") << "short"; },
         "BASE.bin: cannot be read or does not hold 131072 bytes"},
        {"a flash file that cannot be made",
         [](emulator::DriveSettings& s, const std::string& at) { s.FlashPath = at + ".none/flash.bin"; },
         "BASE.none/flash.bin: cannot be created, 131072 bytes"},
        {"a disc gone since the configuration was read",
         [](emulator::DriveSettings&, const std::string& at) { std::remove((at + ".iso").c_str()); },
         "BASE.iso: BASE.iso cannot be read as a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(base + ".iso", std::ios::binary) << std::string(4096, '\x42');
        emulator::DriveSettings settings;
        settings.Config = config;
        settings.FlashPath = base + ".bin";
        settings.MediumPath = base + ".iso";
        settings.Faults.push_back(EmulatedDrive::FaultRule());  // the first family command fails
        settings.NotReadyAfterCommit = 1;
        c.arrange(settings, base);
        std::string problem;
        const std::unique_ptr<EmulatedDriveFile> drive = emulator::ConfiguredDrive::Start(settings, problem);
        std::string expected = c.problem;
        for (size_t at; (at = expected.find("BASE")) != std::string::npos;) expected.replace(at, 4, base);
        EXPECT_EQ(problem, expected);
        ASSERT_EQ(drive == nullptr, !c.problem.empty());
        if (drive != nullptr) {
            EXPECT_EQ(ReadFile(base + ".bin"), Bytes(TestFlashSize, 0xFF)) << "created erased";
            EXPECT_EQ(Send(*drive, {0x00, 0, 0, 0, 0, 0}, Dir::None, nullptr).status, 0) << "with its disc";
            Bytes data(36);
            EXPECT_EQ(Send(*drive, {0x12, 0, 0, 0, 0x24, 0}, Dir::In, &data).senseKey, 0x04) << "with its fault";
        }
        std::remove((base + ".bin").c_str());
        std::remove((base + ".iso").c_str());
    }
}

}  // namespace
