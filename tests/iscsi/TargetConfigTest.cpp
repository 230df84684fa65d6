#include <gtest/gtest.h>

#include <string>

#include "emulator/iscsi/TargetConfig.h"

using emulator::TargetConfig;

namespace {

TEST(TargetConfigTest, ReadsTargetAndDrives) {
    TargetConfig config;
    ASSERT_TRUE(config.Parse("# two drives\n"
                             "target listen=0.0.0.0:0 log=t.log max-connections=1 login-timeout=3600 nop-interval=0\n"
                             "drive iqn=iqn.2025-01.test:a vendor=ACME flash=a.bin log=a.log\n"
                             "drive iqn=iqn.2025-01.test:b serial=SN1 fail=write:0x4000:2\n"))
        << config.Error();
    EXPECT_EQ(config.ListenHost, "0.0.0.0");
    EXPECT_EQ(config.ListenPort, 0);
    EXPECT_EQ(config.LogPath, "t.log");
    EXPECT_EQ(config.Limits.MaxConnections, 1u);
    EXPECT_EQ(config.Limits.LoginTimeoutSeconds, 3600u);
    EXPECT_EQ(config.Limits.NopIntervalSeconds, 0u) << "no NOP-In";
    ASSERT_EQ(config.Drives.size(), 2u);
    EXPECT_EQ(config.Drives[0].Iqn, "iqn.2025-01.test:a");
    EXPECT_EQ(config.Drives[0].FlashPath, "a.bin") << "relative to the working directory";
    EXPECT_EQ(std::string(config.Drives[0].Config.serial, 16), "EMU0000000000001") << "a serial by position";
    EXPECT_EQ(std::string(config.Drives[1].Config.serial, 16), "SN1             ");
    EXPECT_EQ(config.Drives[1].Faults.size(), 1u);

    TargetConfig defaults;
    ASSERT_TRUE(defaults.Parse("drive iqn=eui.0123456789abcdef\n"));
    EXPECT_EQ(defaults.ListenHost, "127.0.0.1");
    EXPECT_EQ(defaults.ListenPort, 3260);
    EXPECT_EQ(defaults.Limits.MaxConnections, 64u);
    EXPECT_EQ(defaults.Limits.LoginTimeoutSeconds, 15u);
    EXPECT_EQ(defaults.Limits.NopIntervalSeconds, 30u);
    ASSERT_TRUE(defaults.Parse("target listen=[::1]:3261\ndrive iqn=iqn.2025-01.test:a\n"));
    EXPECT_EQ(defaults.ListenHost, "::1");
}

TEST(TargetConfigTest, RefusesWithTheLineAndTheReason) {
    const struct { const char* text; const char* error; } cases[] = {
        {"", "no drive configured"},
        {"drive vendor=X\n", "line 1: drive needs iqn="},
        {"\ndrive iqn=IQN.2025-01.Test:a\n", "line 2: bad value for iqn: 'IQN.2025-01.Test:a'"},
        {"drive iqn=target0\n", "line 1: bad value for iqn: 'target0'"},
        {"drive iqn=iqn.2025-01.test:a\ndrive iqn=iqn.2025-01.test:a\n", "line 2: two drives named iqn.2025-01.test:a"},
        {"target listen=127.0.0.1\n", "line 1: bad value for listen: '127.0.0.1'"},
        {"target listen=127.0.0.1:65536\n", "line 1: bad value for listen: '127.0.0.1:65536'"},
        {"target listen=:3260\n", "line 1: bad value for listen: ':3260'"},
        {"target port=1\n", "line 1: unknown key port"},
        {"target\ntarget\n", "line 2: a second target statement"},
        {"target max-connections=0\n", "line 1: bad value for max-connections: '0' (1 to 1024)"},
        {"target max-connections=1025\n", "line 1: bad value for max-connections: '1025' (1 to 1024)"},
        {"target login-timeout=0\n", "line 1: bad value for login-timeout: '0' (1 to 3600)"},
        {"target login-timeout=-1\n", "line 1: bad value for login-timeout: '-1' (1 to 3600)"},
        {"target nop-interval=3601\n", "line 1: bad value for nop-interval: '3601' (0 to 3600)"},
        {"target nop-interval=30s\n", "line 1: bad value for nop-interval: '30s' (0 to 3600)"},
        {"target nop-interval=\n", "line 1: bad value for nop-interval: '' (0 to 3600)"},
        {"drive iqn=iqn.2025-01.test:a adapter=0\n", "line 1: unknown key adapter"},
        {"drive iqn=iqn.2025-01.test:a serial=12345678901234567\n", "line 1: bad value for serial: '12345678901234567'"},
        {"drive iqn=iqn.2025-01.test:a vendor=\"open\n", "line 1: unclosed quote"},
        {"disk iqn=iqn.2025-01.test:a\n", "line 1: unknown statement disk"},
        {"drive iqn=iqn.2025-01.test:a\ndrive iqn=iqn.2025-01.test:b drop=write:1:x\n",
         "line 2: bad value for drop: 'write:1:x' (SECONDS is at most 86400)"},
    };
    for (const auto& c : cases) {
        TargetConfig config;
        EXPECT_FALSE(config.Parse(c.text)) << c.text;
        EXPECT_EQ(config.Error(), c.error) << c.text;
    }
}

}  // namespace

namespace {

TEST(TargetConfigTest, NamesAreIscsiNamesOfAtMost223Characters) {
    const std::string longest = "iqn." + std::string(TargetConfig::MaxNameLength - 4, 'a');
    const struct { std::string name; bool valid; } cases[] = {
        {"iqn.a", true}, {"eui.0", true}, {"naa.-:.", true}, {longest, true},
        {"iqn.", false}, {longest + "a", false}, {"IQN.a", false}, {"iqn.A", false}, {"iqx.a", false}, {"iqn.a b", false},
    };
    for (const auto& c : cases) EXPECT_EQ(TargetConfig::ValidName(c.name), c.valid) << c.name;
}

}  // namespace
