// The NT scan on a simulated machine: registry device map, port inquiry data, DOS names, drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/PassThroughBench.h"

namespace {

using Kind = SimulatedNtMachine::CallKind;

std::vector<std::string> PathsOf(const SimulatedNtMachine& machine, Kind kind) {
    std::vector<std::string> paths;
    for (const SimulatedNtMachine::Call& call : machine.CallsOf(kind)) paths.push_back(call.Path);
    return paths;
}

bool Contains(const std::vector<std::string>& paths, const std::string& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// Where each listed record sits and by which letter it is reached.
std::vector<std::string> Places(const DeviceList& list) {
    std::vector<std::string> places;
    for (size_t i = 0; i < list.Count(); ++i) {
        const DeviceRecord& r = *list.At(i);
        places.push_back(std::to_string(r.PortNumber) + "," + std::to_string(r.PathId) + "," +
                         std::to_string(r.TargetId) + "," + std::to_string(r.Lun) + " " + r.DosDeviceName);
    }
    return places;
}

TEST(PassThroughConstruction, CountsThePortsAndIsUsableOnlyWhenTheMapCouldBeRead) {
    struct Case {
        const char* what;
        bool mapPresent;
        bool infoFails;
        int usable;
        uint32_t adapters;
    };
    for (const Case& c : {Case{"map with three subkeys", true, false, 1, 3},
                          Case{"subkeys unreadable", true, true, 0, 0}, Case{"no map", false, false, 0, 0}}) {
        SCOPED_TRACE(c.what);
        PassThroughBench bench;
        bench.Machine.AddKey(PassThroughBench::PortKey(0));
        bench.Machine.AddKey(PassThroughBench::PortKey(4));
        bench.Machine.AddKey("Hardware\\DeviceMap\\Scsi\\Other");
        if (!c.mapPresent) bench.Machine.RemoveKey("Hardware\\DeviceMap\\Scsi");
        bench.Machine.FailKeyInfo(c.infoFails);

        const PassThroughTransport& transport = bench.Start();
        EXPECT_EQ(transport.Usable, c.usable);
        EXPECT_EQ(transport.AdapterCount, c.adapters);
        const auto opens = bench.Machine.CallsOf(Kind::OpenKey);
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].Path, "Hardware\\DeviceMap\\Scsi");
        EXPECT_EQ(opens[0].Access, 0x20019u);
        EXPECT_EQ(bench.Leftovers(), "");
    }
}

TEST(PassThroughScan, ListsDrivesInPortBusTargetOrderEachWithItsOwnLetter) {
    PassThroughBench bench;
    bench.AddPort(0, {2, 1});
    bench.AddPort(1, {1});
    // Discovery order, not the order of letters, devices or set-up, decides.
    bench.AddUnit(1, 0, 0, "CdRom2");
    emulator::DriveConfig third;
    third.versionMajor = 3;
    bench.AddDrive("\\Device\\CdRom2", 1, 0, 0, "D:").Configure(third);
    bench.Machine.SetStringValue(PassThroughBench::UnitKey(0, 0, 0), "Type", "DiskPeripheral");
    bench.AddUnit(0, 0, 1, "CdRom0");
    bench.AddDrive("\\Device\\CdRom0", 0, 0, 1, "F:");
    bench.AddUnit(0, 1, 0, "CdRom1");
    emulator::DriveConfig second;
    second.controllerId = 0x6E2A;
    second.SetVendor("OTHER");
    bench.AddDrive("\\Device\\CdRom1", 0, 1, 0, "E:").Configure(second);

    const DeviceList& list = bench.Scan();
    EXPECT_EQ(Places(list), (std::vector<std::string>{"0,0,1,0 F:", "0,1,0,0 E:", "1,0,0,0 D:"}));
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_STREQ(list.At(0)->Vendor, "EMULATED");
    EXPECT_STREQ(list.At(0)->Product, "DVD-RW FLASH    ");
    EXPECT_EQ(list.At(0)->FlashSize, 131072u);
    EXPECT_STREQ(list.At(1)->Vendor, "OTHER   ");
    EXPECT_EQ(list.At(1)->ControllerId, 0x6E2A);
    EXPECT_EQ(list.At(1)->FlashSize, 524288u);
    EXPECT_EQ(list.At(2)->VersionMajor, 3);
    // Every key of the map, at every level, is opened plainly for reading.
    for (const SimulatedNtMachine::Call& open : bench.Machine.CallsOf(Kind::OpenKey)) {
        SCOPED_TRACE(open.Path);
        EXPECT_EQ(open.Options, 0u);
        EXPECT_EQ(open.Access, 0x20019u);
    }
    EXPECT_EQ(bench.Leftovers(), "");
}

TEST(PassThroughScan, FromWindows2000OnOnlyTheTwoIdeChannelsAreScanned) {
    struct Case {
        uint32_t major;
        const char* portDevice;
        bool dosNameKept;
        bool listed;
    };
    const Case cases[] = {
        {5, "\\Device\\Ide\\IdePort0", true, true},   {6, "\\Device\\Ide\\IdePort1", true, true},
        {5, "\\Device\\ScsiPort0", true, false},        {5, "\\Device\\Ide\\IdePort2", true, false},
        {5, "\\Device\\Ide\\ideport0", true, false},  {5, "\\Device\\Ide\\IdePort0", false, false},
        {4, "\\Device\\ScsiPort0", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + " " + c.portDevice + (c.dosNameKept ? "" : " (no DOS name)"));
        PassThroughBench bench(c.major);
        bench.AddPort(0, {1}, c.portDevice);
        if (!c.dosNameKept) bench.Machine.RemoveDosName("Scsi0:");
        bench.AddUnit(0, 0, 0, "CdRom0");
        bench.AddDrive("\\Device\\CdRom0", 0, 0, 0, "E:");
        bench.Machine.SetAccessChecked(c.major >= 5);  // NT 4 lets a read-only handle send pass-through

        EXPECT_EQ(bench.Scan().Count(), c.listed ? 1u : 0u);
        EXPECT_EQ(Contains(PathsOf(bench.Machine, Kind::QueryDosDeviceName), "scsi0:"), c.major >= 5);
        if (c.listed) {
            // The port itself is opened for reading and writing whatever the version.
            const auto opens = bench.Machine.CallsOf(Kind::CreateDeviceFile);
            ASSERT_GE(opens.size(), 1u);
            EXPECT_EQ(opens[0].Path, "\\\\.\\Scsi0:");
            EXPECT_EQ(opens[0].Access, 0xC0000000u);
            EXPECT_EQ(opens[0].Sharing, 3u);
            EXPECT_EQ(opens[0].Disposition, 3u);
            EXPECT_EQ(opens[0].Flags, 0u);
            // Its inquiry data: IOCTL_SCSI_GET_INQUIRY_DATA, nothing in, 2048 bytes of room.
            const auto controls = bench.Machine.CallsOf(Kind::DeviceControl);
            ASSERT_GE(controls.size(), 1u);
            std::string portDevice = c.portDevice;
            for (char& ch : portDevice) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            EXPECT_EQ(controls[0].Path, portDevice) << "the port's own handle";
            EXPECT_EQ(controls[0].ControlCode, 0x4100Cu);
            EXPECT_FALSE(controls[0].HasInput);
            EXPECT_EQ(controls[0].InputLength, 0u);
            EXPECT_EQ(controls[0].OutputLength, 2048u);
        }
        EXPECT_EQ(bench.Leftovers(), "");
    }
}

TEST(PassThroughScan, MissingKeysDoNotCountAndEveryLevelGoesOnUpTo254) {
    PassThroughBench bench;
    // Two subkeys but one port: the port level runs to its end. Three buses reported but only bus
    // 2 in the registry; one unit reported for it, its key at the last target id tried.
    bench.Machine.AddKey("Hardware\\DeviceMap\\Scsi\\Other");
    bench.Machine.AddKey(PassThroughBench::PortKey(200));
    bench.Machine.AddKey(PassThroughBench::BusKey(200, 2));
    bench.Machine.AddPort(200, "\\Device\\Ide\\IdePort0", {0, 0, 1});
    bench.AddUnit(200, 2, 254, "CdRom0");
    bench.AddDrive("\\Device\\CdRom0", 200, 2, 254, "E:");

    EXPECT_EQ(Places(bench.Scan()), std::vector<std::string>{"200,2,254,0 E:"});
    const std::vector<std::string> keys = PathsOf(bench.Machine, Kind::OpenKey);
    EXPECT_TRUE(Contains(keys, PassThroughBench::PortKey(254)));
    EXPECT_FALSE(Contains(keys, PassThroughBench::PortKey(255)));
    EXPECT_TRUE(Contains(keys, PassThroughBench::BusKey(200, 254)));
    EXPECT_FALSE(Contains(keys, PassThroughBench::BusKey(200, 255)));
    // Map, 255 port numbers, 255 bus numbers, 255 target ids.
    EXPECT_EQ(keys.size(), 1u + 255u + 255u + 255u);
    EXPECT_EQ(bench.Leftovers(), "");
}

TEST(PassThroughScan, EveryLevelEndsOnceItHasFoundAsManyKeysAsItsBound) {
    PassThroughBench bench;
    bench.AddPort(0, {1});
    bench.AddUnit(0, 0, 0, "CdRom0");
    bench.AddDrive("\\Device\\CdRom0", 0, 0, 0, "E:");
    // Beyond each bound: a second unit, a second bus, and a port added after construction.
    bench.AddUnit(0, 0, 1, "CdRom1");
    bench.AddDrive("\\Device\\CdRom1", 0, 0, 1, "F:");
    bench.AddUnit(0, 1, 0, "CdRom2");
    bench.AddDrive("\\Device\\CdRom2", 0, 1, 0, "G:");
    PassThroughTransport& transport = bench.Start();
    bench.AddPort(1, {1});
    bench.AddUnit(1, 0, 0, "CdRom3");
    bench.AddDrive("\\Device\\CdRom3", 1, 0, 0, "H:");

    transport.EnumerateDevices(bench.List);
    EXPECT_EQ(Places(bench.List), std::vector<std::string>{"0,0,0,0 E:"});
    const std::vector<std::string> keys = PathsOf(bench.Machine, Kind::OpenKey);
    EXPECT_FALSE(Contains(keys, PassThroughBench::UnitKey(0, 0, 1)));
    EXPECT_FALSE(Contains(keys, PassThroughBench::BusKey(0, 1)));
    EXPECT_FALSE(Contains(keys, PassThroughBench::PortKey(1)));
    EXPECT_EQ(bench.Leftovers(), "");
}

TEST(PassThroughScan, UnitsAreTakenByTypeAndFoundByDeviceNameAndDriveLetter) {
    using Letters = std::vector<std::pair<std::string, std::string>>;  // defined in this order
    const std::string cdRom0 = "\\Device\\CdRom0";
    const std::string name54(54, 'N');
    struct Case {
        const char* what;
        bool hasType;
        std::string type;
        bool hasName;
        std::string name;
        Letters letters;
        std::string driveDevice;
        const char* listedAs;  // null: not listed
    };
    const std::string sz = PassThroughBench::Sz("CdRomPeripheral");
    const std::string name = PassThroughBench::Sz("CdRom0");
    const Case cases[] = {
        {"plain", true, sz, true, name, {{"E:", cdRom0}}, cdRom0, "E:"},
        {"type with a suffix", true, PassThroughBench::Sz("CdRomPeripheral7"), true, name, {{"E:", cdRom0}}, cdRom0,
         "E:"},
        {"type without NUL", true, "CdRomPeripheral", true, name, {{"E:", cdRom0}}, cdRom0, "E:"},
        {"type too short", true, PassThroughBench::Sz("CdRomPeriphera"), true, name, {{"E:", cdRom0}}, cdRom0, nullptr},
        {"disk", true, PassThroughBench::Sz("DiskPeripheral"), true, name, {{"E:", cdRom0}}, cdRom0, nullptr},
        {"no type", false, "", true, name, {{"E:", cdRom0}}, cdRom0, nullptr},
        {"type beyond its 64 bytes", true, PassThroughBench::Sz("CdRomPeripheral" + std::string(49, 'x')), true, name,
         {{"E:", cdRom0}}, cdRom0, nullptr},
        {"type of exactly 64 bytes", true, "CdRomPeripheral" + std::string(49, 'x'), true, name, {{"E:", cdRom0}},
         cdRom0, "E:"},
        {"no name: CdRom0", true, sz, false, "", {{"E:", cdRom0}}, cdRom0, "E:"},
        {"name without NUL", true, sz, true, "CdRom3", {{"E:", "\\Device\\CdRom3"}}, "\\Device\\CdRom3", "E:"},
        {"name filling its 64 bytes", true, sz, true, "CdRom5" + std::string(58, '\0'),
         {{"E:", "\\Device\\CdRom5"}}, "\\Device\\CdRom5", "E:"},
        {"name one byte beyond its 64: CdRom0", true, sz, true, "CdRom5" + std::string(59, '\0'), {{"E:", cdRom0}},
         cdRom0, "E:"},
        {"name beyond 64 bytes: CdRom0", true, sz, true, PassThroughBench::Sz(std::string(70, 'N')), {{"E:", cdRom0}},
         cdRom0, "E:"},
        // The longest target whose answer, with its two NULs, fits the letter's 64 bytes.
        {"name of 54", true, sz, true, PassThroughBench::Sz(name54), {{"E:", "\\Device\\" + name54}},
         "\\Device\\" + name54, "E:"},
        {"name of 56: its target cannot fit", true, sz, true, PassThroughBench::Sz(name54 + "NN"),
         {{"E:", "\\Device\\" + name54 + "N"}}, "\\Device\\" + name54 + "N", nullptr},
        {"no letter", true, sz, true, name, {}, cdRom0, nullptr},
        {"A and B are not tried", true, sz, true, name, {{"A:", cdRom0}, {"B:", cdRom0}}, cdRom0, nullptr},
        {"case differs", true, sz, true, name, {{"E:", "\\device\\cdrom0"}}, cdRom0, nullptr},
        {"first target decides", true, sz, true, name, {{"E:", "\\Device\\Elsewhere"}, {"E:", cdRom0}}, cdRom0, "E:"},
        {"lowest match wins, others passed over", true, sz, true, name,
         {{"D:", "\\Device\\" + std::string(60, 'L')}, {"E:", "\\Device\\CdRom1"}, {"H:", cdRom0}, {"G:", cdRom0}},
         cdRom0, "G:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PassThroughBench bench;
        bench.AddPort(0, {1});
        const std::string unit = PassThroughBench::UnitKey(0, 0, 0);
        bench.Machine.AddKey(unit);
        if (c.hasType) bench.Machine.SetValue(unit, "Type", NtStorageApi::RegSz, c.type);
        if (c.hasName) bench.Machine.SetValue(unit, "DeviceName", NtStorageApi::RegSz, c.name);
        bench.AddDrive(c.driveDevice, 0, 0, 0, "");
        for (const auto& letter : c.letters) bench.Machine.DefineDosName(letter.first, letter.second);

        const DeviceList& list = bench.Scan();
        ASSERT_EQ(list.Count(), c.listedAs != nullptr ? 1u : 0u);
        if (c.listedAs != nullptr) {
            EXPECT_STREQ(list.At(0)->DosDeviceName, c.listedAs);
            // The whole 64-byte letter buffer is copied: zeros after the colon.
            EXPECT_EQ(std::memcmp(list.At(0)->DosDeviceName + 2, std::string(62, '\0').data(), 62), 0);
        }
        for (const std::string& asked : PathsOf(bench.Machine, Kind::QueryDosDeviceName)) {
            EXPECT_TRUE(asked != "A:" && asked != "B:") << asked;
        }
        EXPECT_EQ(bench.Leftovers(), "");
    }
}

TEST(PassThroughScan, AnswersAreReadOnlyAsFarAsTheCallSaysItStored) {
    const std::string cdRom0 = "\\Device\\CdRom0";
    struct Case {
        const char* what;
        std::string type;
        std::string letterAnswer;  // E:'s answer as stored, "" for the usual one
        std::string portAnswer;    // scsi0:'s answer as stored, "" for the usual one
        bool listed;
    };
    const Case cases[] = {
        {"the usual answers", "CdRomPeripheral", "", "", true},
        // The room past the value holds the type's last letter: only the length tells.
        {"type one letter short", "CdRomPeriphera", "", "", false},
        {"letter answer with its NULs", "CdRomPeripheral", cdRom0 + std::string(2, '\0'), "", true},
        {"letter answer with no NUL in its count", "CdRomPeripheral", cdRom0, "", false},
        {"port answer with its NULs", "CdRomPeripheral", "", "\\Device\\Ide\\IdePort0" + std::string(2, '\0'),
         true},
        {"port answer with no NUL in its count", "CdRomPeripheral", "", "\\Device\\Ide\\IdePort0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PassThroughBench bench;
        bench.AddPort(0, {1});
        bench.AddUnit(0, 0, 0, "CdRom0");
        bench.Machine.SetValue(PassThroughBench::UnitKey(0, 0, 0), "Type", NtStorageApi::RegSz, c.type);
        bench.AddDrive(cdRom0, 0, 0, 0, "E:");
        bench.Machine.PoisonValueRoom('l');
        if (!c.letterAnswer.empty()) bench.Machine.SetDosNameAnswer("E:", c.letterAnswer);
        if (!c.portAnswer.empty()) bench.Machine.SetDosNameAnswer("scsi0:", c.portAnswer);
        EXPECT_EQ(bench.Scan().Count(), c.listed ? 1u : 0u);
        EXPECT_EQ(bench.Leftovers(), "");
    }
}

TEST(PassThroughScan, AUnitWithoutNameIsTheCdRomNumberedByTheUnitsLetteredBeforeIt) {
    PassThroughBench bench;
    bench.AddPort(0, {5});
    bench.AddUnit(0, 0, 0, "CdRom7");  // lettered, but its device is gone: counts
    bench.Machine.DefineDosName("D:", "\\Device\\CdRom7");
    bench.AddUnit(0, 0, 1, "CdRom8");  // no letter: does not count
    bench.Machine.SetStringValue(PassThroughBench::UnitKey(0, 0, 2), "Type", "DiskPeripheral");
    bench.Machine.SetStringValue(PassThroughBench::UnitKey(0, 0, 3), "Type", "CdRomPeripheral");
    bench.AddDrive("\\Device\\CdRom1", 0, 0, 3, "G:");
    bench.AddDrive("\\Device\\CdRom0", 0, 0, 4, "F:");  // would be taken for k = 0

    EXPECT_EQ(Places(bench.Scan()), std::vector<std::string>{"0,0,3,0 G:"});
    EXPECT_TRUE(Contains(PathsOf(bench.Machine, Kind::CreateDeviceFile), "\\\\.\\D:"));
    EXPECT_EQ(bench.Leftovers(), "");
}

TEST(PassThroughScan, APortIsSkippedOnlyWhenItsInquiryDataCannotBeHad) {
    // Bus 0 of a one-bus answer claims UNITS units, the first entry at OFFSET saying it is
    // followed by NEXT. The scan reads only the two counts, so a chain that looks broken does not
    // keep the drive off the list.
    auto answer = [](uint32_t units, uint32_t offset, uint32_t next, uint32_t length) {
        std::vector<uint8_t> bytes(2048, 0);
        bytes[0] = 1;
        ScsiBusData bus{};
        bus.NumberOfLogicalUnits = static_cast<uint8_t>(units);
        bus.InquiryDataOffset = offset;
        std::memcpy(bytes.data() + offsetof(ScsiAdapterBusInfo, BusData), &bus, sizeof bus);
        ScsiInquiryData unit{};
        unit.InquiryDataLength = length;
        unit.NextInquiryDataOffset = next;
        // An entry claimed inside the head or the bus table points at those; none is written there.
        const size_t tableEnd = offsetof(ScsiAdapterBusInfo, BusData) + sizeof bus;
        if (units != 0 && offset >= tableEnd && offset + offsetof(ScsiInquiryData, InquiryData) <= bytes.size()) {
            std::memcpy(bytes.data() + offset, &unit, offsetof(ScsiInquiryData, InquiryData));
        }
        return bytes;
    };
    struct Case {
        const char* what;
        int fault;
        std::vector<uint8_t> answer;
        bool listed;
    };
    const Case cases[] = {
        {"sound answer", 0, answer(1, 16, 0, 36), true},
        {"no port device", 1, {}, false},
        {"inquiry data refused", 2, {}, false},
        {"more than 2048 bytes", 3, {}, false},
        {"bus on another number than its key", 4, {}, false},
        {"unit entry beyond the buffer", 0, answer(1, 2040, 0, 36), true},
        {"unit entry far past the buffer", 0, answer(1, 0xFFFFFFF0u, 0, 36), true},
        {"unit data beyond the buffer", 0, answer(1, 16, 0, 2048), true},
        {"unit chain shorter than its count", 0, answer(2, 16, 0, 36), true},
        {"unit chain linking out of the buffer", 0, answer(2, 16, 0xFFFFFFFFu, 36), true},
        {"unit entry inside the bus table", 0, answer(1, 4, 0, 36), true},
        {"no unit entry at all", 0, answer(1, 0, 0, 0), true},
        {"no units on the bus", 0, answer(0, 0, 0, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PassThroughBench bench;
        bench.AddPort(0, {1});
        bench.AddUnit(0, 0, 0, "CdRom0");
        bench.AddDrive("\\Device\\CdRom0", 0, 0, 0, "E:");
        bench.AddPort(1, {1});
        bench.AddUnit(1, 0, 0, "CdRom1");
        bench.AddDrive("\\Device\\CdRom1", 1, 0, 0, "F:");
        if (!c.answer.empty()) bench.Machine.SetInquiryDataAnswer(0, c.answer);
        if (c.fault == 1) bench.Machine.RemoveDevice("\\Device\\Ide\\IdePort0");
        if (c.fault == 2) bench.Machine.FailInquiryData(0, true);
        if (c.fault == 3) bench.Machine.AddPort(0, "\\Device\\Ide\\IdePort0", {255, 255});
        if (c.fault == 4) {
            // Bus 1 has a key but no entry: what follows bus 0's entry must not be taken for one.
            std::vector<uint8_t> bytes = answer(0, 0, 0, 0);
            ScsiBusData junk{};
            junk.NumberOfLogicalUnits = 1;
            junk.InquiryDataOffset = 24;
            std::memcpy(bytes.data() + offsetof(ScsiAdapterBusInfo, BusData) + sizeof junk, &junk, sizeof junk);
            bench.Machine.SetInquiryDataAnswer(0, bytes);
            bench.Machine.RemoveKey(PassThroughBench::BusKey(0, 0));
            bench.AddUnit(0, 1, 0, "CdRom0");
        }

        const std::vector<std::string> expected =
            c.listed ? std::vector<std::string>{"0,0,0,0 E:", "1,0,0,0 F:"} : std::vector<std::string>{"1,0,0,0 F:"};
        EXPECT_EQ(Places(bench.Scan()), expected);
        if (c.fault == 4) {
            EXPECT_FALSE(Contains(PathsOf(bench.Machine, Kind::OpenKey), PassThroughBench::UnitKey(0, 1, 0)));
        }
        EXPECT_EQ(bench.Leftovers(), "");
    }
}

TEST(PassThroughScan, CurrentDeviceIsAllZeroAfterTheScanHoweverItEnded) {
    // The last candidate is accepted, or refused after its INQUIRY wrote Vendor and Product, or
    // refused at the INQUIRY, or gone.
    for (int fault = 0; fault < 4; ++fault) {
        SCOPED_TRACE(fault);
        PassThroughBench bench;
        bench.AddPort(0, {1});
        bench.AddUnit(0, 0, 0, "CdRom0");
        emulator::EmulatedDrive& drive = bench.AddDrive("\\Device\\CdRom0", 0, 0, 0, "E:");
        emulator::DriveConfig config;
        config.makerWord = fault == 1 ? 0x7C4A : 0x4A7C;
        config.deviceType = fault == 2 ? 0x00 : 0x05;
        drive.Configure(config);
        drive.SetGone(fault == 3);
        EXPECT_EQ(bench.Scan().Count(), fault == 0 ? 1u : 0u);
        EXPECT_EQ(bench.Leftovers(), "");
    }
}

}  // namespace
