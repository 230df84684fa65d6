// The emulated SCSI port driver's machine as its set-up tool reads it: the defaults a short file
// relies on, what each key sets, the lines it refuses, and the fixed-size settings the driver gets.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "emulator/scsiport/ScsiPortConfig.h"

namespace {

using emulator::ScsiPortSettings;

std::string Narrow(const uint16_t* wide) {
    std::string text;
    for (; *wide != 0; ++wide) text += static_cast<char>(*wide);
    return text;
}

bool FakeNtPath(const std::string& file, std::u16string& out) {
    const std::string nt = "\\??\\Z:\\" + file;
    out.assign(nt.begin(), nt.end());
    return true;
}

TEST(ScsiPortConfig, AShortFileGetsAMachineOfIdePortsWithLetteredCdRoms) {
    ScsiPortConfig config;
    ASSERT_TRUE(config.Parse("drive port=1 bus=2 target=3\n"
                             "drive port=0 bus=0 target=0 flash=f.bin\n",
                             "base"))
        << config.Error();
    ASSERT_EQ(config.Ports.size(), 2u);
    EXPECT_EQ(config.Ports[0].Number, 0);  // sorted by number
    EXPECT_EQ(config.Ports[0].DeviceName, "\\Device\\Ide\\IdePort0");
    EXPECT_EQ(config.Ports[0].Buses, 1);
    EXPECT_EQ(config.Ports[1].DeviceName, "\\Device\\Ide\\IdePort1");
    EXPECT_EQ(config.Ports[1].Buses, 3);  // one past the highest bus in use
    const ScsiPortConfig::Drive& first = config.Drives[0];
    EXPECT_EQ(first.Letter, 'E');
    EXPECT_EQ(first.CdRomNumber, 0);
    EXPECT_EQ(first.MapDeviceName, "CdRom0");
    EXPECT_EQ(first.MapType, "CdRomPeripheral");
    EXPECT_TRUE(first.HasMapDeviceName);
    EXPECT_EQ(config.Drives[1].Letter, 'F');
    EXPECT_EQ(config.Drives[1].MapDeviceName, "CdRom1");
    EXPECT_EQ(config.Drives[1].FlashPath, "base/f.bin");
    EXPECT_EQ(config.Drives[1].Config.flashSize, 0x20000u);  // the controller's usual size
    EXPECT_TRUE(config.EventLogPath.empty());
}

TEST(ScsiPortConfig, EveryKeyIsTaken) {
    ScsiPortConfig config;
    ASSERT_TRUE(config.Parse("driver log=events.log\n"
                             "port number=4 device=\\Device\\Scsi\\Other buses=2\n"
                             "drive port=4 bus=1 target=7 letter=q cdrom=5 devicename=- maptype=DiskPeripheral "
                             "vendor=ACME fail=write:0x4000:2 latency=3\n"
                             "drive port=4 bus=0 target=0 letter=- devicename=\"Odd Name\"\n",
                             ""))
        << config.Error();
    EXPECT_EQ(config.EventLogPath, "events.log");
    ASSERT_EQ(config.Ports.size(), 1u);
    EXPECT_EQ(config.Ports[0].DeviceName, "\\Device\\Scsi\\Other");
    EXPECT_EQ(config.Ports[0].Buses, 2);
    const ScsiPortConfig::Drive& d = config.Drives[0];
    EXPECT_EQ(d.Port, 4);
    EXPECT_EQ(d.Bus, 1);
    EXPECT_EQ(d.Target, 7);
    EXPECT_EQ(d.Letter, 'Q');
    EXPECT_EQ(d.CdRomNumber, 5);
    EXPECT_FALSE(d.HasMapDeviceName);
    EXPECT_EQ(d.MapType, "DiskPeripheral");
    EXPECT_EQ(std::string(d.Config.vendor, 8), "ACME    ");
    ASSERT_EQ(d.Faults.size(), 1u);
    EXPECT_EQ(d.Faults[0].offset, 0x4000u);
    EXPECT_EQ(d.LatencyMilliseconds, 3u);
    EXPECT_EQ(config.Drives[1].Letter, 0);
    EXPECT_EQ(config.Drives[1].MapDeviceName, "Odd Name");
}

TEST(ScsiPortConfig, RefusedLinesNameTheirLineAndLeaveNothing) {
    // Two discs, one of whole blocks: the image is looked at before the driver refuses to serve it.
    const std::string disc = ::testing::TempDir() + "scsiport_disc.iso";
    const std::string odd = ::testing::TempDir() + "scsiport_odd.iso";
    std::ofstream(disc, std::ios::binary) << std::string(2048, '\0');
    std::ofstream(odd, std::ios::binary) << std::string(2049, '\0');
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"drive port=0 bus=0 target=0 medium=" + disc + "\n", "line 1: medium= is not served by the port driver"},
        {"\ndrive port=0 bus=0 target=0 medium=" + odd + "\n",
         "line 2: bad value for medium: '" + odd + "' (" + odd + " holds 2049 bytes, not whole blocks of 2048)"},
        {"drive port=0 bus=0\n", "line 1: drive needs port=, bus= and target="},
        {"\ndrive port=0 bus=0 target=0 colour=red\n", "line 2: unknown key colour"},
        {"drive port=0 bus=0 target=0 letter=EF\n", "line 1: bad value for letter: 'EF'"},
        {"drive port=0 bus=0 target=255\n", "line 1: bad value for target: '255'"},
        {"drive port=0 bus=0 target=0 notready=3\n", "line 1: notready= is not served by the port driver"},
        {"drive port=0 bus=0 target=0 attention=aftercommit\n", "line 1: attention= is not served by the port driver"},
        {"drive port=0 bus=0 target=0 drop=write:5\n", "line 1: drop= is not served by the port driver"},
        {"drive port=0 bus=0 target=1\ndrive port=0 bus=0 target=1\n", "line 2: two drives at port 0 bus 0 target 1"},
        {"port number=1\nport number=1\n", "line 2: port 1 twice"},
        {"port number=1 device=Device\n", "line 1: bad value for device: 'Device'"},
        {"port buses=1\n", "line 1: port needs number="},
        {"printer number=1\n", "line 1: unknown statement printer"},
        {"drive port=0 bus=0 target=0 letter=E\ndrive port=0 bus=0 target=1 letter=e\n", "two drives have the letter E"},
        {"drive port=0 bus=0 target=0 cdrom=1\ndrive port=0 bus=0 target=1\n", "two drives are CdRom1"},
        {"port number=0 device=\\Device\\X\nport number=1 device=\\Device\\X\n", "two ports are \\Device\\X"},
    };
    for (const auto& c : cases) {
        ScsiPortConfig config;
        EXPECT_FALSE(config.Parse(c.text, "")) << c.text;
        EXPECT_EQ(config.Error(), c.error) << c.text;
        EXPECT_TRUE(config.Drives.empty() && config.Ports.empty()) << c.text;
    }
    std::remove(disc.c_str());
    std::remove(odd.c_str());
}

TEST(ScsiPortConfig, SettingsCarryEverythingTheDriverNeeds) {
    ScsiPortConfig config;
    ASSERT_TRUE(config.Parse("driver log=events.log\n"
                             "port number=1 device=\\Device\\Scsi\\Other\n"
                             "drive port=1 bus=0 target=2 flash=f.bin log=d.log fail=commit identitycheck=1 "
                             "failnth=4 latency=9\n",
                             ""))
        << config.Error();
    static ScsiPortSettings settings;
    ASSERT_TRUE(config.ToSettings(settings, FakeNtPath)) << config.Error();
    EXPECT_EQ(settings.Magic, ScsiPortSettings::ExpectedMagic);
    EXPECT_EQ(settings.Size, sizeof settings);
    EXPECT_EQ(Narrow(settings.EventLogPath), "\\??\\Z:\\events.log");
    ASSERT_EQ(settings.PortCount, 1u);
    EXPECT_EQ(settings.Ports[0].Number, 1);
    EXPECT_EQ(settings.Ports[0].Buses, 1);
    EXPECT_EQ(Narrow(settings.Ports[0].DeviceName), "\\Device\\Scsi\\Other");
    ASSERT_EQ(settings.DriveCount, 1u);
    const ScsiPortSettings::Drive& d = settings.Drives[0];
    EXPECT_EQ(d.Port, 1);
    EXPECT_EQ(d.Target, 2);
    EXPECT_EQ(d.Letter, 'E');
    EXPECT_STREQ(d.MapType, "CdRomPeripheral");
    EXPECT_STREQ(d.MapDeviceName, "CdRom0");
    EXPECT_EQ(d.HasMapDeviceName, 1);
    EXPECT_EQ(d.IdentityCheckWithData, 1);
    EXPECT_EQ(d.FaultCount, 1);
    EXPECT_EQ(d.Faults[0].kind, emulator::EmulatedDrive::Kind::Commit);
    EXPECT_EQ(d.FailCommandNumber, 4u);
    EXPECT_EQ(d.LatencyMilliseconds, 9u);
    EXPECT_EQ(Narrow(d.FlashPath), "\\??\\Z:\\f.bin");
    EXPECT_EQ(Narrow(d.LogPath), "\\??\\Z:\\d.log");
}

TEST(ScsiPortConfig, SettingsRefuseWhatDoesNotFit) {
    std::string nine;
    for (int i = 0; i < 9; ++i) nine += "drive port=0 bus=0 target=" + std::to_string(i) + "\n";
    static ScsiPortSettings settings;
    ScsiPortConfig config;
    ASSERT_TRUE(config.Parse(nine, "")) << config.Error();
    EXPECT_FALSE(config.ToSettings(settings, FakeNtPath));
    EXPECT_EQ(config.Error(), "more than 8 drives");

    ASSERT_TRUE(config.Parse("drive port=0 bus=0 target=0 flash=" + std::string(300, 'x') + "\n", ""));
    EXPECT_FALSE(config.ToSettings(settings, FakeNtPath));
    EXPECT_EQ(config.Error().rfind("path too long: ", 0), 0u);

    ASSERT_TRUE(config.Parse("port number=0 device=\\" + std::string(70, 'D') + "\n", ""));
    EXPECT_FALSE(config.ToSettings(settings, FakeNtPath));
    EXPECT_EQ(config.Error().rfind("device name too long: ", 0), 0u);

    ASSERT_TRUE(config.Parse("drive port=0 bus=0 target=0 log=x.log\n", ""));
    EXPECT_FALSE(config.ToSettings(settings, [](const std::string&, std::u16string&) { return false; }));
    EXPECT_EQ(config.Error(), "cannot name x.log for the driver");
}

}  // namespace
