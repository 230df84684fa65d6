// The pass-through scan on an NT machine built from the input: which device-map keys exist, what
// the units' Type and DeviceName values hold (any type, any bytes, NUL or not), which DOS names
// point where (or the raw answer a lookup gets), what the registry leaves past a value, what each
// port answers to the inquiry-data request, and what the drives report.
// Whatever the machine says, the scan closes all it opens, keeps only sound records, and a second
// scan finds what the first did.
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "fuzz/FuzzDriveIdentity.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/simulated/SimulatedNtMachine.h"
#include "transport/DeviceList.h"
#include "transport/OsVersionInfo.h"
#include "transport/PassThroughTransport.h"

namespace {

const std::string MapKey = "Hardware\\DeviceMap\\Scsi";

std::string PortKey(unsigned port) { return MapKey + "\\Scsi Port " + std::to_string(port); }
std::string BusKey(unsigned port, unsigned bus) { return PortKey(port) + "\\Scsi Bus " + std::to_string(bus); }
std::string UnitKey(unsigned port, unsigned bus, unsigned target) {
    return BusKey(port, bus) + "\\Target Id " + std::to_string(target) + "\\Logical Unit Id 0";
}

struct Drive {
    static constexpr uint32_t FlashBytes = 0x1000;  // the scan never touches the flash
    std::vector<uint8_t> Flash = std::vector<uint8_t>(FlashBytes);
    std::vector<uint8_t> Staging = std::vector<uint8_t>(FlashBytes);
    emulator::EmulatedDrive Emulated;
};

emulator::DriveConfig Config(FuzzInput& in) {
    emulator::DriveConfig config = FuzzedDriveIdentity(in, Drive::FlashBytes);
    if (in.Bit()) {
        const std::string vendor = in.Text(8);
        std::memcpy(config.vendor, vendor.data(), vendor.size());
    }
    return config;
}

void AddPorts(FuzzInput& in, SimulatedNtMachine& machine) {
    const unsigned ports = in.Below(4);
    for (unsigned i = 0; i < ports; ++i) {
        const uint8_t port = static_cast<uint8_t>(in.Below(6));
        static const char* const devices[] = {"\\Device\\Ide\\IdePort0", "\\Device\\Ide\\IdePort1",
                                              "\\Device\\Ide\\IdePort2", "\\Device\\Scsi\\atapi0"};
        const char* device = devices[in.Below(4)];
        std::vector<uint8_t> unitsPerBus(in.Below(4));
        for (uint8_t& units : unitsPerBus) units = static_cast<uint8_t>(in.Below(5));
        if (in.Byte() != 0xFF) machine.AddKey(PortKey(port));
        for (size_t bus = 0; bus < unitsPerBus.size(); ++bus) {
            if (in.Byte() != 0xFF) machine.AddKey(BusKey(port, static_cast<unsigned>(bus)));
        }
        machine.AddPort(port, device, unitsPerBus);
        switch (in.Below(4)) {
        case 1: machine.SetInquiryDataAnswer(port, in.Bytes()); break;
        case 2: machine.FailInquiryData(port, true); break;
        default: break;
        }
    }
}

void AddUnits(FuzzInput& in, SimulatedNtMachine& machine, std::deque<std::unique_ptr<Drive>>& drives) {
    const unsigned units = in.Below(8);
    for (unsigned i = 0; i < units; ++i) {
        const uint8_t port = static_cast<uint8_t>(in.Below(6));
        const uint8_t bus = static_cast<uint8_t>(in.Below(4));
        const uint8_t target = static_cast<uint8_t>(in.Below(5));
        const std::string key = UnitKey(port, bus, target);
        machine.AddKey(key);
        switch (in.Below(4)) {
        case 0: machine.SetStringValue(key, "Type", "CdRomPeripheral"); break;
        case 1: machine.SetStringValue(key, "Type", "CdRomPeripheral" + std::to_string(in.Below(3))); break;
        case 2: {
            const uint32_t type = in.Below(8);
            machine.SetValue(key, "Type", type, in.Text());
            break;
        }
        default: break;
        }
        const unsigned number = in.Below(4);
        switch (in.Below(4)) {
        case 0: machine.SetStringValue(key, "DeviceName", "CdRom" + std::to_string(number)); break;
        case 1: machine.SetValue(key, "DeviceName", NtStorageApi::RegSz, in.Text()); break;
        case 2: machine.SetValue(key, "DeviceName", in.Below(8), in.Text()); break;
        default: break;
        }
        if (!in.Bit()) continue;
        drives.push_back(std::make_unique<Drive>());
        Drive& drive = *drives.back();
        drive.Emulated.Configure(Config(in));
        drive.Emulated.Attach(drive.Flash.data(), drive.Staging.data());
        const std::string device = "\\Device\\CdRom" + std::to_string(number);
        machine.AddDrive(device, port, bus, target, &drive.Emulated);
        const unsigned letter = in.Below(27);
        if (letter < 26) machine.DefineDosName(std::string(1, static_cast<char>('A' + letter)) + ":", device);
    }
}

// DOS names of any spelling, pointing anywhere, some answered with raw bytes (NULs or none):
// the port check and the letter lookup read their answers.
void AddDosNames(FuzzInput& in, SimulatedNtMachine& machine) {
    const unsigned names = in.Below(4);
    for (unsigned i = 0; i < names; ++i) {
        const unsigned letter = in.Below(30);
        const std::string name = letter < 26 ? std::string(1, static_cast<char>('A' + letter)) + ":"
                                              : "scsi" + std::to_string(letter - 26) + ":";
        if (in.Below(4) == 3) {
            machine.SetDosNameAnswer(name, in.Text());
        } else {
            machine.DefineDosName(name, in.Text());
        }
    }
}

bool SameRecords(const DeviceList& a, const DeviceList& b) {
    if (a.Count() != b.Count()) return false;
    for (size_t i = 0; i < a.Count(); ++i) {
        if (std::memcmp(a.At(i), b.At(i), sizeof(DeviceRecord)) != 0) return false;
    }
    return true;
}

void CheckRecord(const DeviceRecord& record) {
    bool known = false;
    for (uint16_t id : DriveCommandSet::ControllerIds) known = known || record.ControllerId == id;
    FUZZ_CHECK(known);
    FUZZ_CHECK(record.FlashSize != 0);
    FUZZ_CHECK(record.Vendor[8] == '\0' && record.Product[16] == '\0');
    FUZZ_CHECK(record.Lun == 0);
    // A drive letter the open can use: "C:" to "Z:", the rest of the field zero.
    const char letter = record.DosDeviceName[0];
    FUZZ_CHECK(letter >= 'C' && letter <= 'Z' && record.DosDeviceName[1] == ':');
    for (size_t i = 2; i < sizeof record.DosDeviceName; ++i) FUZZ_CHECK(record.DosDeviceName[i] == '\0');
}

void CheckNothingLeftOpen(const SimulatedNtMachine& machine, const PassThroughTransport& transport) {
    FUZZ_CHECK(machine.OpenKeys() == 0);
    FUZZ_CHECK(machine.OpenHandles() == 0);
    FUZZ_CHECK(machine.BadCloses() == 0);
    FUZZ_CHECK(transport.DeviceHandle == NtStorageApi::InvalidHandle);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&transport.CurrentDevice);
    for (size_t i = 0; i < sizeof(DeviceRecord); ++i) FUZZ_CHECK(bytes[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint32_t savedMajor = OsVersionInfo.dwMajorVersion;
    OsVersionInfo.dwMajorVersion = in.Bit() ? 4 : 5;

    SimulatedNtMachine machine;
    std::deque<std::unique_ptr<Drive>> drives;
    const uint8_t flags = in.Byte();
    if ((flags & 1) == 0) machine.AddKey(MapKey);
    machine.FailKeyInfo((flags & 0x0E) == 0x0E);
    machine.SetAccessChecked((flags & 0x10) == 0);
    if ((flags & 0xE0) == 0xE0) machine.ForceScsiStatus(in.Byte());
    AddPorts(in, machine);
    AddUnits(in, machine, drives);
    AddDosNames(in, machine);
    // What the registry leaves past a value must not decide anything.
    if (in.Bit()) machine.PoisonValueRoom(in.Byte());

    PassThroughTransport transport(machine);
    CheckNothingLeftOpen(machine, transport);
    if (transport.Usable) {
        DeviceList first;
        transport.EnumerateDevices(first);
        CheckNothingLeftOpen(machine, transport);
        for (size_t i = 0; i < first.Count(); ++i) CheckRecord(*first.At(i));

        DeviceList second;
        transport.EnumerateDevices(second);
        FUZZ_CHECK(SameRecords(first, second));
    }
    OsVersionInfo.dwMajorVersion = savedMajor;
    return 0;
}
