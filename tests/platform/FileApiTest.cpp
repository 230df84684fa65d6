// The real dump-file implementation of the platform the tests run on: POSIX on the host, Win32
// under wine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32/Win32FileApi.h"
using PlatformFileApi = Win32FileApi;
using PlatformSleepApi = Win32SleepApi;
#else
#include "platform/host/HostFileApi.h"
using PlatformFileApi = HostFileApi;
using PlatformSleepApi = HostSleepApi;
#endif

namespace {

std::string TempPath(const char* name) {
#ifdef _WIN32
    return std::string("flashupgrade-") + name;
#else
    return std::string(::testing::TempDir()) + "flashupgrade-" + name;
#endif
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(PlatformFileApi, OpensWithoutTruncatingSharesWithNobodyAndWritesFromTheStart) {
    PlatformFileApi files;
    const std::string path = TempPath("existing.bin");
    WriteAll(path, std::vector<uint8_t>(5000, 0x11));

    const FileApi::Handle file = files.OpenForWriting(path.c_str());
    ASSERT_NE(file, FileApi::InvalidHandle);
    uint64_t length = 0;
    ASSERT_NE(files.GetLength(file, &length), 0);
    EXPECT_EQ(length, 5000u);
    // Nobody else may open it meanwhile.
    EXPECT_EQ(files.OpenForWriting(path.c_str()), FileApi::InvalidHandle);

    ASSERT_NE(files.Truncate(file), 0);
    ASSERT_NE(files.GetLength(file, &length), 0);
    EXPECT_EQ(length, 0u);
    const std::vector<uint8_t> dump(3000, 0x5A);
    ASSERT_NE(files.WriteFromStart(file, dump.data(), static_cast<uint32_t>(dump.size())), 0);
    files.Close(file);
    EXPECT_EQ(ReadAll(path), dump);

    // Closed, it can be opened again; an open alone changes nothing.
    const FileApi::Handle again = files.OpenForWriting(path.c_str());
    ASSERT_NE(again, FileApi::InvalidHandle);
    files.Close(again);
    EXPECT_EQ(ReadAll(path), dump);
    std::remove(path.c_str());
}

TEST(PlatformFileApi, CreatesAMissingFileEmptyAndRefusesImpossiblePaths) {
    PlatformFileApi files;
    const std::string path = TempPath("new.bin");
    std::remove(path.c_str());
    const FileApi::Handle file = files.OpenForWriting(path.c_str());
    ASSERT_NE(file, FileApi::InvalidHandle);
    uint64_t length = 99;
    ASSERT_NE(files.GetLength(file, &length), 0);
    EXPECT_EQ(length, 0u);
    files.Close(file);
    EXPECT_TRUE(ReadAll(path).empty());
    std::remove(path.c_str());

    EXPECT_EQ(files.OpenForWriting(""), FileApi::InvalidHandle);
    EXPECT_EQ(files.OpenForWriting(TempPath("no-such-folder/x.bin").c_str()), FileApi::InvalidHandle);
}

TEST(PlatformFileApi, PauseWaitsAtLeastAsLongAsAsked) {
    PlatformSleepApi sleep;
    const auto start = std::chrono::steady_clock::now();
    sleep.Pause(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(19));
}

}  // namespace
