// The scan of sysfs: which devices become records, in which order, with which node, and what the
// scan leaves behind.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/sgio/LinuxMachineBench.h"
#include "transport/SgIoTransport.h"

namespace {

using Address = LinuxMachineBench::Address;

std::string NodeOf(const DeviceRecord& record) {
    return std::string(record.DosDeviceName, strnlen(record.DosDeviceName, sizeof record.DosDeviceName));
}

struct Listed {
    unsigned Host, Channel, Target;
    std::string Node;
};

std::vector<Listed> Scan(SgIoTransport& transport) {
    DeviceList list;
    transport.EnumerateDevices(list);
    std::vector<Listed> listed;
    for (size_t i = 0; i < list.Count(); ++i) {
        const DeviceRecord& record = *list.At(i);
        EXPECT_EQ(record.Lun, 0);
        // The record holds what its 8-bit fields can; the transport the whole address.
        const SgIoTransport::ScsiAddress address = transport.AddressOf(record);
        EXPECT_EQ(record.PortNumber, address.Host < 255 ? address.Host : 255u);
        EXPECT_EQ(record.PathId, address.Channel < 255 ? address.Channel : 255u);
        EXPECT_EQ(record.TargetId, address.Target < 255 ? address.Target : 255u);
        listed.push_back({address.Host, address.Channel, address.Target, NodeOf(record)});
    }
    return listed;
}

bool operator==(const Listed& a, const Listed& b) {
    return a.Host == b.Host && a.Channel == b.Channel && a.Target == b.Target && a.Node == b.Node;
}

void PrintTo(const Listed& listed, std::ostream* os) {
    *os << listed.Host << ":" << listed.Channel << ":" << listed.Target << " " << listed.Node;
}

TEST(SgIoScan, KeepsTypeFiveLunZeroInNumericBusOrderByTheirNodes) {
    LinuxMachineBench bench;
    // Added out of order, and with numbers that sort wrongly as text (10 before 2).
    bench.AddDrive({10, 0, 0, 0}, "sr3", "sg5");
    bench.AddDrive({2, 0, 0, 0}, "sr1", "sg2");
    bench.AddDrive({0, 1, 0, 0}, "sr0", "sg1");
    bench.AddDrive({0, 0, 3, 0}, "", "sg0");          // no block node: listed by its generic one
    bench.AddDrive({0, 0, 1, 1}, "sr9", "sg9");       // LUN 1
    bench.AddDrive({0, 0, 2, 0}, "", "");             // no node at all
    bench.AddDrive({0, 0, 4, 0}, "sr8", "sg8");
    bench.Machine.SetTypeText({0, 0, 4, 0}, "0\n");   // a disk
    bench.AddDrive({0, 0, 5, 0}, "sr7", "sg7");
    bench.Machine.SetTypeText({0, 0, 5, 0}, "5x\n");  // not a number
    bench.Machine.AddOtherEntry("host0");
    bench.Machine.AddOtherEntry("target0:0:3");
    bench.Machine.AddOtherEntry("0:0:6");
    bench.Machine.AddOtherEntry("0:0:7:0:1");
    bench.Machine.AddOtherEntry("0:0:3:");              // a number missing
    bench.Machine.AddOtherEntry("4294967296:0:0:0");    // beyond 32 bits
    // Numbers beyond the record's 8-bit fields, as Linux gives them after many re-plugs.
    bench.AddDrive({70000, 0, 0, 0}, "sr16", "sg16");
    bench.AddDrive({256, 0, 0, 0}, "sr6", "sg6");
    bench.AddDrive({255, 0, 0, 0}, "sr15", "sg15");
    bench.AddDrive({254, 0, 0, 0}, "sr14", "sg14");
    bench.AddDrive({3, 0, 4009, 0}, "sr13", "sg13");
    bench.AddDrive({3, 300, 0, 0}, "sr12", "sg12");
    bench.AddDrive({3, 0, 255, 0}, "sr19", "sg19");
    bench.AddDrive({3, 0, 256, 0}, "x_20", "sg20");   // a name that is no node: the generic one
    bench.AddDrive({3, 0, 257, 0}, std::string(33, 's'), "sg21");   // too long to be a node's

    SgIoTransport transport(bench.Machine);
    ASSERT_EQ(transport.Usable, 1);
    const std::vector<Listed> expected = {
        {0, 0, 3, "/dev/sg0"},      {0, 1, 0, "/dev/sr0"},      {2, 0, 0, "/dev/sr1"},
        {3, 0, 255, "/dev/sr19"},   {3, 0, 256, "/dev/sg20"},   {3, 0, 257, "/dev/sg21"},   {3, 0, 4009, "/dev/sr13"},  {3, 300, 0, "/dev/sr12"},
        {10, 0, 0, "/dev/sr3"},     {254, 0, 0, "/dev/sr14"},   {255, 0, 0, "/dev/sr15"},
        {256, 0, 0, "/dev/sr6"},    {70000, 0, 0, "/dev/sr16"}};
    EXPECT_EQ(Scan(transport), expected);
    EXPECT_EQ(transport.AdapterCount, 8u);

    // Each listed device was opened once, read/write and non-blocking, without a claim, and
    // closed again; the rejected ones were not opened at all.
    ASSERT_EQ(bench.Machine.OpenCalls().size(), expected.size());
    for (const SimulatedLinuxMachine::OpenCall& call : bench.Machine.OpenCalls()) {
        EXPECT_EQ(call.Flags & O_ACCMODE, O_RDWR) << call.Path;
        EXPECT_NE(call.Flags & O_NONBLOCK, 0) << call.Path;
        EXPECT_EQ(call.Flags & O_EXCL, 0) << call.Path;
    }
    EXPECT_EQ(bench.Machine.OpenDescriptors(), 0);
    EXPECT_EQ(bench.Machine.BadCloses(), 0);
    EXPECT_EQ(transport.CommandFd, -1);
    const DeviceRecord zero{};
    EXPECT_EQ(std::memcmp(&transport.CurrentDevice, &zero, sizeof zero), 0);
}

TEST(SgIoScan, AnAdapterThatReportsNoResidualStillHasItsDriveListed) {
    LinuxMachineBench bench;
    bench.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    SimulatedLinuxMachine::ForcedOutcome noResidual;
    noResidual.Active = noResidual.ResidGiven = true;
    noResidual.Resid = 0;
    bench.Machine.Force(noResidual);
    SgIoTransport transport(bench.Machine);
    DeviceList list;
    transport.EnumerateDevices(list);
    EXPECT_EQ(list.Count(), 1u);
}

TEST(SgIoScan, RecordCarriesTheDrivesAnswersAndTheIdentityRuleOfPassThrough) {
    struct Case {
        const char* Name;
        bool CheckWithData;    // identity answered with CHECK CONDITION and valid data
        uint16_t SizeWord;
        uint32_t FlashSize;
    };
    const Case cases[] = {
        {"plain", false, 0, 0x20000},
        {"check condition with data", true, 0, 0x20000},
        {"flash of 256 KiB", false, 256, 0x40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LinuxMachineBench bench;
        emulator::EmulatedDrive& drive = bench.AddDrive({1, 2, 3, 0}, "sr0", "sg0", c.FlashSize, c.SizeWord);
        drive.SetIdentityCheckWithData(c.CheckWithData);
        SgIoTransport transport(bench.Machine);
        DeviceList list;
        transport.EnumerateDevices(list);
        ASSERT_EQ(list.Count(), 1u);
        const DeviceRecord& record = *list.At(0);
        EXPECT_EQ(record.PortNumber, 1);
        EXPECT_EQ(record.PathId, 2);
        EXPECT_EQ(record.TargetId, 3);
        EXPECT_EQ(std::string(record.Vendor), "EMULATED");
        EXPECT_EQ(std::string(record.Product), "DVD-RW FLASH    ");
        EXPECT_EQ(record.ControllerId, 0x6E15);
        EXPECT_EQ(record.VersionMajor, 1);
        EXPECT_EQ(record.VersionMinor, 5);
        EXPECT_EQ(record.FlashSize, c.FlashSize);
        EXPECT_EQ(NodeOf(record), "/dev/sr0");
    }
}

TEST(SgIoScan, RefusesWhatTheDriveOrTheKernelDeniesAndNotesUnopenedNodes) {
    struct Case {
        const char* Name;
        int OpenError;             // of /dev/sr0, 0: none
        bool Readable, Writable;   // of /dev/sr0 for a caller who is not root
        int ScsiError;             // of every SG_IO on /dev/sr0
        bool InquiryFails;
        bool IdentityWithoutData;  // identity answered CHECK CONDITION with nothing in the buffer
        int ExpectedFailure;       // noted for /dev/sr0
    };
    const Case cases[] = {
        {"no read permission", 0, false, false, 0, false, false, EACCES},
        {"read-only permission", 0, true, false, 0, false, false, EACCES},
        {"node gone", ENOENT, true, true, 0, false, false, ENOENT},
        {"no such device", ENXIO, true, true, 0, false, false, ENXIO},
        {"i/o error on open", EIO, true, true, 0, false, false, EIO},
        {"SG_IO fails", 0, true, true, EIO, false, false, 0},
        {"INQUIRY refused", 0, true, true, 0, true, false, 0},
        {"identity refused without data", 0, true, true, 0, false, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LinuxMachineBench bench;
        emulator::EmulatedDrive& first = bench.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
        bench.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
        bench.Machine.SetRoot(false);
        bench.Machine.SetPermission("/dev/sr0", c.Readable, c.Writable);
        if (c.OpenError != 0) bench.Machine.FailOpen("/dev/sr0", c.OpenError);
        if (c.ScsiError != 0) bench.Machine.FailScsi("/dev/sr0", c.ScsiError);
        if (c.InquiryFails) first.FailCommand(emulator::EmulatedDrive::Kind::Inquiry, emulator::EmulatedDrive::AnyOffset, 1);
        if (c.IdentityWithoutData) {
            first.FailCommand(emulator::EmulatedDrive::Kind::Identity, emulator::EmulatedDrive::AnyOffset, 1);
        }
        SgIoTransport transport(bench.Machine);
        const std::vector<Listed> expected = {{0, 0, 1, "/dev/sr1"}};
        EXPECT_EQ(Scan(transport), expected);
        if (c.ExpectedFailure != 0) {
            ASSERT_EQ(transport.ScanFailures().size(), 1u);
            EXPECT_EQ(transport.ScanFailures()[0].Node, "/dev/sr0");
            EXPECT_EQ(transport.ScanFailures()[0].Error, c.ExpectedFailure);
        } else {
            EXPECT_TRUE(transport.ScanFailures().empty());
        }
        EXPECT_EQ(bench.Machine.OpenDescriptors(), 0);
    }
}

TEST(SgIoScan, AMachineWithoutScsiDevicesIsNotUsableAndListsNothing) {
    LinuxMachineBench bench;
    bench.Machine.FailList("/sys/bus/scsi/devices", ENOENT);
    SgIoTransport transport(bench.Machine);
    EXPECT_EQ(transport.Usable, 0);
    EXPECT_TRUE(Scan(transport).empty());
}

TEST(SgIoScan, AdapterCountIsTheNumberOfHosts) {
    LinuxMachineBench bench;
    bench.AddDrive({0, 0, 0, 0}, "sr0", "sg0");
    bench.AddDrive({0, 0, 1, 0}, "sr1", "sg1");
    bench.AddDrive({3, 0, 0, 0}, "sr2", "sg2");
    SgIoTransport transport(bench.Machine);
    EXPECT_EQ(transport.AdapterCount, 2u);
}

}  // namespace
