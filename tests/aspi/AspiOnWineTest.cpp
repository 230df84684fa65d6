// The real loader and AspiTransport against the emulator wnaspi32.dll, under Wine with the DLL
// forced native (WINEDLLOVERRIDES=wnaspi32=n). ctest runs this program three times, each with a
// fresh DLL: beside it (AspiOnWine.*, then AspiOnWineMisconfigured.*) and in a directory without it
// (AspiWithoutManager.*).
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/Win32AspiApi.h"
#include "transport/AspiTransport.h"

namespace {

const char* const RunDirectory = "aspi-run";

std::string InRun(const char* name) {
    return std::string(RunDirectory) + "/" + name;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh run directory and a configuration naming it, read by the DLL when it is first called.
void PrepareRun(const std::vector<uint8_t>& flash) {
    ::CreateDirectoryA(RunDirectory, nullptr);
    for (const char* name : {"flash1.bin", "drive1.log", "hidden.log"}) ::DeleteFileA(InRun(name).c_str());
    WriteAll(InRun("flash1.bin"), std::string(flash.begin(), flash.end()));
    WriteAll(InRun("wnaspi32.cfg"),
             "manager adapters=3\n"
             "adapter id=0 status=0x81\n"
             "drive adapter=0 target=0 log=hidden.log\n"
             "drive adapter=1 target=1 vendor=WINE product=\"ASPI DRIVE\" major=1 minor=2 flash=flash1.bin "
             "log=drive1.log latency=2\n"
             "adapter id=2 targets=2\n"
             "drive adapter=2 target=0 type=0 product=DISK\n"
             "drive adapter=2 target=1 product=SECOND controller=0x6E47 major=7 minor=8\n"
             "drive adapter=2 target=2 product=BEYOND\n");
    ASSERT_TRUE(::SetEnvironmentVariableA("FLASHUPGRADE_ASPI_CONFIG", InRun("wnaspi32.cfg").c_str()));
}

TEST(AspiOnWine, ListsProgramsAndDumpsTheEmulatedDrives) {
    std::vector<uint8_t> image(0x20000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 3 + (i >> 12));
    PrepareRun(image);

    Win32AspiApi api;
    std::unique_ptr<DriveTransport> transport(new AspiTransport(api));
    ASSERT_EQ(transport->Usable, 1);
    EXPECT_EQ(transport->AdapterCount, 3u);

    DeviceList list;
    transport->EnumerateDevices(list);
    ASSERT_EQ(list.Count(), 2u);
    const DeviceRecord& first = *list.At(0);
    EXPECT_EQ(first.PathId, 1);
    EXPECT_EQ(first.TargetId, 1);
    EXPECT_STREQ(first.Vendor, "WINE    ");
    EXPECT_STREQ(first.Product, "ASPI DRIVE      ");
    EXPECT_EQ(first.ControllerId, 0x6E15);
    EXPECT_EQ(first.VersionMajor, 1);
    EXPECT_EQ(first.VersionMinor, 2);
    EXPECT_EQ(first.FlashSize, 0x20000u);
    const DeviceRecord& second = *list.At(1);
    EXPECT_EQ(second.PathId, 2);
    EXPECT_EQ(second.TargetId, 1);
    EXPECT_STREQ(second.Product, "SECOND          ");
    EXPECT_EQ(second.ControllerId, 0x6E47);
    EXPECT_EQ(second.FlashSize, 0x40000u);

    ASSERT_EQ(transport->OpenDevice(first), 1);
    std::vector<uint8_t> chunk(0x4000);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(0xC3 ^ (i * 5));
    std::vector<uint8_t> readBack(0x4000, 0);
    ASSERT_EQ(transport->WriteFirmwareChunk(chunk.data(), 1, 0x4000, 0x4000), 1);
    ASSERT_EQ(transport->ReadBackChunk(readBack.data(), 1, 0x4000, 0x4000), 1);
    EXPECT_EQ(readBack, chunk);
    ASSERT_EQ(transport->CommitFirmware(), 1);
    std::vector<uint8_t> dumped(image.size(), 0);
    for (uint32_t offset = 0; offset < dumped.size(); offset += 0x4000) {
        ASSERT_EQ(transport->DumpFirmwareChunk(dumped.data() + offset, static_cast<uint8_t>(offset >> 16),
                                               static_cast<uint16_t>(offset), 0x4000),
                  1);
    }
    transport->CloseDevice();
    transport.reset();

    std::vector<uint8_t> expected = image;
    std::copy(chunk.begin(), chunk.end(), expected.begin() + 0x14000);
    EXPECT_EQ(dumped, expected);
    // The commit reached the file: the next process starts from it.
    EXPECT_EQ(ReadAll(InRun("flash1.bin")), expected);

    const std::vector<std::string> log = ReadLines(InRun("drive1.log"));
    ASSERT_EQ(log.size(), 13u);
    const char* const head[] = {
        "INQUIRY mode=0 id=0 offset=0x0 length=0x64 control=0x00 dir=in hostlength=0x64 status=0 "
        "sense=0x00/0x00/0x00",
        "READ_BUFFER mode=1 id=0 offset=0x0 length=0x64 control=0x00 dir=in hostlength=0x64 status=0 "
        "sense=0x00/0x00/0x00",
        "WRITE_BUFFER mode=7 id=1 offset=0x4000 length=0x4000 control=0x00 dir=out hostlength=0x4000 status=0 "
        "sense=0x00/0x00/0x00",
        "READ_BUFFER mode=2 id=1 offset=0x4000 length=0x4000 control=0x00 dir=in hostlength=0x4000 status=0 "
        "sense=0x00/0x00/0x00",
        "WRITE_BUFFER mode=4 id=0 offset=0x0 length=0x0 control=0x00 dir=out hostlength=0x0 status=0 "
        "sense=0x00/0x00/0x00",
        "READ_BUFFER mode=1 id=0 offset=0x0 length=0x4000 control=0x01 dir=in hostlength=0x4000 status=0 "
        "sense=0x00/0x00/0x00",
    };
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(log[i], head[i]) << "log line " << i;
    EXPECT_EQ(log[12], "READ_BUFFER mode=1 id=1 offset=0xC000 length=0x4000 control=0x01 dir=in hostlength=0x4000 "
                       "status=0 sense=0x00/0x00/0x00");
    // Adapter 0 answered SS_INVALID_HA: its drive never heard a command.
    EXPECT_TRUE(ReadAll(InRun("hidden.log")).empty());
}

TEST(AspiOnWineMisconfigured, AFlashFileOfTheWrongSizeFailsTheManager) {
    ::CreateDirectoryA("aspi-bad-run", nullptr);
    WriteAll("aspi-bad-run/flash.bin", std::string(1000, '\xFF'));
    WriteAll("aspi-bad-run/wnaspi32.cfg", "drive adapter=0 target=0 flash=flash.bin\n");
    ASSERT_TRUE(::SetEnvironmentVariableA("FLASHUPGRADE_ASPI_CONFIG", "aspi-bad-run/wnaspi32.cfg"));
    Win32AspiApi api;
    AspiTransport transport(api);
    EXPECT_EQ(transport.Usable, 0);
    // Refused, not replaced: it may be the only copy of someone's image.
    EXPECT_EQ(ReadAll("aspi-bad-run/flash.bin").size(), 1000u);
}

TEST(AspiWithoutManager, TheTransportIsNotUsable) {
    EXPECT_EQ(::LoadLibraryA("wnaspi32.dll"), nullptr);
    Win32AspiApi api;
    AspiTransport transport(api);
    EXPECT_EQ(transport.Usable, 0);
    EXPECT_EQ(transport.AdapterCount, 0u);
}

}  // namespace
