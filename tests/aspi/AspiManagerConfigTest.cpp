// The emulator DLL's configuration text: what each key sets, the defaults it leaves, and the lines
// it refuses with their line number.
#include <gtest/gtest.h>

#include <string>

#include "emulator/wnaspi32/AspiManagerConfig.h"

namespace {

using emulator::EmulatedDrive;

std::string Text(const char* field, size_t size) {
    return std::string(field, size);
}

TEST(AspiManagerConfig, ADriveLineSetsEveryKey) {
    AspiManagerConfig config;
    ASSERT_TRUE(config.Parse("# two drives\n"
                             "drive adapter=1 target=3 vendor=ACME product=\"DVD RW # 2\" revision=9.1 type=0x05 "
                             "maker=0x7C4A controller=0x6E47 major=3 minor=12 sizekib=64 versionat=0x100 "
                             "flash=flash.bin log=sub/log.txt latency=7 fail=write:0x14000:5 corrupt=0x200 "
                             "failnth=9 identitycheck=1 gone=0   # trailing comment\n"
                             "\r\n"
                             "drive adapter=0 target=0 flashsize=4096 fail=any:*:forever fail=commit "
                             "flash=Z:\\abs\\flash.bin log=/abs/log.txt\n",
                             "cfg"))
        << config.Error();
    ASSERT_EQ(config.Drives.size(), 2u);
    const AspiManagerConfig::Drive& d = config.Drives[0];
    EXPECT_EQ(d.Adapter, 1);
    EXPECT_EQ(d.Target, 3);
    EXPECT_EQ(Text(d.Config.vendor, 8), "ACME    ");
    EXPECT_EQ(Text(d.Config.product, 16), "DVD RW # 2      ");
    EXPECT_EQ(Text(d.Config.revision, 4), "9.1 ");
    EXPECT_EQ(d.Config.deviceType, 5);
    EXPECT_EQ(d.Config.makerWord, 0x7C4A);
    EXPECT_EQ(d.Config.controllerId, 0x6E47);
    EXPECT_EQ(d.Config.versionMajor, 3);
    EXPECT_EQ(d.Config.versionMinor, 12);
    EXPECT_EQ(d.Config.sizeWordKiB, 64);
    EXPECT_EQ(d.Config.flashSize, 65536u);  // from the size word
    EXPECT_EQ(d.Config.versionOffset, 0x100u);
    EXPECT_EQ(d.FlashPath, "cfg/flash.bin");
    EXPECT_EQ(d.LogPath, "cfg/sub/log.txt");
    EXPECT_EQ(d.LatencyMilliseconds, 7u);
    ASSERT_EQ(d.Faults.size(), 2u);
    EXPECT_EQ(d.Faults[0].kind, EmulatedDrive::Kind::WriteChunk);
    EXPECT_EQ(d.Faults[0].offset, 0x14000u);
    EXPECT_EQ(d.Faults[0].times, 5u);
    EXPECT_EQ(d.Faults[0].action, EmulatedDrive::FaultAction::Fail);
    EXPECT_EQ(d.Faults[1].kind, EmulatedDrive::Kind::ReadBack);
    EXPECT_EQ(d.Faults[1].offset, 0x200u);
    EXPECT_EQ(d.Faults[1].times, 1u);
    EXPECT_EQ(d.Faults[1].action, EmulatedDrive::FaultAction::Corrupt);
    EXPECT_EQ(d.FailCommandNumber, 9u);
    EXPECT_TRUE(d.IdentityCheckWithData);
    EXPECT_FALSE(d.Gone);

    const AspiManagerConfig::Drive& e = config.Drives[1];
    EXPECT_EQ(e.Config.flashSize, 4096u);
    ASSERT_EQ(e.Faults.size(), 2u);
    EXPECT_EQ(e.Faults[0].kind, EmulatedDrive::Kind::Any);
    EXPECT_EQ(e.Faults[0].offset, EmulatedDrive::AnyOffset);
    EXPECT_EQ(e.Faults[0].times, EmulatedDrive::Forever);
    EXPECT_EQ(e.Faults[1].kind, EmulatedDrive::Kind::Commit);
    EXPECT_EQ(e.Faults[1].times, 1u);
    EXPECT_EQ(e.FlashPath, "Z:\\abs\\flash.bin");  // absolute paths stay as they are
    EXPECT_EQ(e.LogPath, "/abs/log.txt");
    EXPECT_EQ(config.AdapterCount(), 2);
    EXPECT_EQ(config.DriveAt(1, 3), 0);
    EXPECT_EQ(config.DriveAt(0, 0), 1);
    EXPECT_EQ(config.DriveAt(0, 3), -1);
}

TEST(AspiManagerConfig, FlashSizeFollowsTheSizeWordThenTheController) {
    struct Case {
        const char* line;
        uint32_t flashSize;
    };
    const Case cases[] = {
        {"drive adapter=0 target=0", 0x20000},
        {"drive adapter=0 target=0 controller=0x6E2A", 0x80000},
        {"drive adapter=0 target=0 controller=0x6E47", 0x40000},
        {"drive adapter=0 target=0 controller=0x1234", 0x20000},
        {"drive adapter=0 target=0 controller=0x6E2A sizekib=256", 0x40000},
        {"drive adapter=0 target=0 sizekib=256 flashsize=0x20000", 0x20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        AspiManagerConfig config;
        ASSERT_TRUE(config.Parse(c.line, "")) << config.Error();
        EXPECT_EQ(config.Drives[0].Config.flashSize, c.flashSize);
    }
}

TEST(AspiManagerConfig, ManagerAndAdapterLines) {
    AspiManagerConfig config;
    ASSERT_TRUE(config.Parse("adapter id=1 targets=16 status=0x81\nadapter id=3 targets=0\n", "")) << config.Error();
    EXPECT_EQ(config.AdapterCount(), 4);  // one past the highest named
    EXPECT_EQ(config.SupportStatus, 0x01);
    EXPECT_EQ(config.AdapterAnswer(1).MaxTargets, 16);
    EXPECT_EQ(config.AdapterAnswer(1).Status, 0x81);
    EXPECT_EQ(config.AdapterAnswer(3).MaxTargets, 0);
    EXPECT_EQ(config.AdapterAnswer(3).Status, 0x01);
    EXPECT_EQ(config.AdapterAnswer(2).MaxTargets, 8);
    EXPECT_EQ(config.AdapterAnswer(2).Status, 0x01);

    ASSERT_TRUE(config.Parse("manager adapters=0 status=0xE8\ndrive adapter=2 target=0\n", "")) << config.Error();
    EXPECT_EQ(config.AdapterCount(), 0);
    EXPECT_EQ(config.SupportStatus, 0xE8);
    EXPECT_TRUE(config.Adapters.empty());

    config.SetDefault();
    ASSERT_EQ(config.Drives.size(), 1u);
    EXPECT_EQ(config.AdapterCount(), 1);
    EXPECT_EQ(config.DriveAt(0, 0), 0);
}

TEST(AspiManagerConfig, RefusedLinesNameTheirNumberAndLeaveNothing) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"drive target=1", "line 1: drive needs adapter= and target="},
        {"\n\ndrive adapter=0 target=0 colour=red", "line 3: unknown key colour"},
        {"drive adapter=255 target=0", "line 1: bad value for adapter: '255'"},
        {"drive adapter=0 target=256", "line 1: bad value for target: '256'"},
        {"drive adapter=0 target=x1", "line 1: bad value for target: 'x1'"},
        {"drive adapter=0 target=0x", "line 1: bad value for target: '0x'"},
        {"drive adapter=0 target=0 major=0x10000", "line 1: bad value for major: '0x10000'"},
        {"drive adapter=0 target=0 vendor=NINECHARS", "line 1: bad value for vendor: 'NINECHARS'"},
        {"drive adapter=0 target=0 flashsize=0", "line 1: bad value for flashsize: '0'"},
        {"drive adapter=0 target=0 fail=explode", "line 1: bad value for fail: 'explode'"},
        {"drive adapter=0 target=0 fail=write:0x14000:0", "line 1: bad value for fail: 'write:0x14000:0'"},
        {"drive adapter=0 target=0 fail=write:1:2:3", "line 1: bad value for fail: 'write:1:2:3'"},
        {"drive adapter=0 target=0 gone=yes", "line 1: bad value for gone: 'yes'"},
        {"drive adapter=0 target=0 hold=write:2", "line 1: hold= needs a link: iscsi-target only"},
        {"drive adapter=0 target=0 drop=commit", "line 1: drop= needs a link: iscsi-target only"},
        {"drive adapter=0 target=0 flash=", "line 1: bad value for flash: ''"},
        {"drive adapter=0 target=0 product=\"OPEN", "line 1: unclosed quote"},
        {"drive adapter=0 target=0 loose", "line 1: expected KEY=VALUE, found 'loose'"},
        {"drive adapter=0 target=1\ndrive target=1 adapter=0", "line 2: two drives at adapter 0 target 1"},
        {"adapter targets=2", "line 1: adapter needs id="},
        {"adapter id=0\nadapter id=0", "line 2: adapter 0 twice"},
        {"adapter id=0 status=0", "line 1: bad value for status: '0'"},
        {"disk adapter=0", "line 1: unknown statement disk"},
        {"drive adapter=0 target=0 fail=any fail=any fail=any fail=any fail=any fail=any fail=any fail=any "
         "fail=any",
         "line 1: more than 8 faults"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AspiManagerConfig config;
        EXPECT_FALSE(config.Parse(c.text, ""));
        EXPECT_EQ(config.Error(), c.error);
        EXPECT_TRUE(config.Drives.empty());
        EXPECT_TRUE(config.Adapters.empty());
    }
}

}  // namespace
