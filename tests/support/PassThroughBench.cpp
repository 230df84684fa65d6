#include "tests/support/PassThroughBench.h"

#include "transport/OsVersionInfo.h"

PassThroughBench::PassThroughBench(uint32_t majorVersion) : savedMajor_(OsVersionInfo.dwMajorVersion) {
    OsVersionInfo.dwMajorVersion = majorVersion;
    Machine.AddKey("Hardware\\DeviceMap\\Scsi");
}

PassThroughBench::~PassThroughBench() {
    OsVersionInfo.dwMajorVersion = savedMajor_;
}

std::string PassThroughBench::PortKey(unsigned port) {
    return "Hardware\\DeviceMap\\Scsi\\Scsi Port " + std::to_string(port);
}

std::string PassThroughBench::BusKey(unsigned port, unsigned bus) {
    return PortKey(port) + "\\Scsi Bus " + std::to_string(bus);
}

std::string PassThroughBench::UnitKey(unsigned port, unsigned bus, unsigned target) {
    return BusKey(port, bus) + "\\Target Id " + std::to_string(target) + "\\Logical Unit Id 0";
}

void PassThroughBench::AddPort(uint8_t port, const std::vector<uint8_t>& unitsPerBus, const std::string& device) {
    Machine.AddKey(PortKey(port));
    for (size_t bus = 0; bus < unitsPerBus.size(); ++bus) Machine.AddKey(BusKey(port, static_cast<unsigned>(bus)));
    Machine.AddPort(port, device.empty() ? "\\Device\\Ide\\IdePort" + std::to_string(port) : device, unitsPerBus);
}

void PassThroughBench::AddUnit(uint8_t port, uint8_t bus, uint8_t target, const std::string& name) {
    Machine.SetStringValue(UnitKey(port, bus, target), "Type", "CdRomPeripheral");
    Machine.SetStringValue(UnitKey(port, bus, target), "DeviceName", name);
}

emulator::EmulatedDrive& PassThroughBench::AddDrive(const std::string& device, uint8_t port, uint8_t bus,
                                                    uint8_t target, const std::string& letter) {
    drives_.push_back(std::make_unique<Drive>());
    Drive& drive = *drives_.back();
    drive.Emulated.Configure(emulator::DriveConfig());
    drive.Emulated.Attach(drive.Flash.data(), drive.Staging.data());
    Machine.AddDrive(device, port, bus, target, &drive.Emulated);
    if (!letter.empty()) Machine.DefineDosName(letter, device);
    return drive.Emulated;
}

PassThroughTransport& PassThroughBench::Start() {
    Transport = std::make_unique<PassThroughTransport>(Machine);
    return *Transport;
}

const DeviceList& PassThroughBench::Scan() {
    Start().EnumerateDevices(List);
    return List;
}

std::string PassThroughBench::Leftovers() const {
    std::string wrong;
    if (Machine.OpenKeys() != 0) wrong += std::to_string(Machine.OpenKeys()) + " keys open; ";
    if (Machine.OpenHandles() != 0) wrong += std::to_string(Machine.OpenHandles()) + " handles open; ";
    if (Machine.BadCloses() != 0) wrong += std::to_string(Machine.BadCloses()) + " bad closes; ";
    if (Transport && !IsAllZero(Transport->CurrentDevice)) wrong += "CurrentDevice not zero; ";
    if (Transport && Transport->DeviceHandle != NtStorageApi::InvalidHandle) wrong += "DeviceHandle kept; ";
    return wrong;
}

bool IsAllZero(const DeviceRecord& record) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}
