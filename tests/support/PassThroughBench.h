#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "tests/support/simulated/SimulatedNtMachine.h"
#include "transport/DeviceList.h"
#include "transport/PassThroughTransport.h"

// A simulated NT machine with CD/DVD drives in its SCSI device map, and the transport under test.
// Sets the process's major version for its lifetime.
class PassThroughBench {
public:
    explicit PassThroughBench(uint32_t majorVersion = 5);
    ~PassThroughBench();

    static std::string PortKey(unsigned port);
    static std::string BusKey(unsigned port, unsigned bus);
    static std::string UnitKey(unsigned port, unsigned bus, unsigned target);
    // TEXT and its NUL, as the registry stores a string.
    static std::string Sz(const std::string& text) { return std::string(text.c_str(), text.size() + 1); }

    // Port N's key and device (\Device\Ide\IdePortN unless DEVICE says otherwise), its buses
    // with these unit counts, and the keys of those buses.
    void AddPort(uint8_t port, const std::vector<uint8_t>& unitsPerBus, const std::string& device = "");
    // A unit key of type "CdRomPeripheral" with DeviceName NAME.
    void AddUnit(uint8_t port, uint8_t bus, uint8_t target, const std::string& name);
    // An emulated drive as DEVICE at that place, its DOS name LETTER pointing there (none if "").
    emulator::EmulatedDrive& AddDrive(const std::string& device, uint8_t port, uint8_t bus, uint8_t target,
                                      const std::string& letter);

    PassThroughTransport& Start();
    // Start, then one scan into List.
    const DeviceList& Scan();
    // "" when every key and handle is closed again, none closed twice, and CurrentDevice is all
    // zero (so right after a scan); else what is wrong.
    std::string Leftovers() const;

    SimulatedNtMachine Machine;
    std::unique_ptr<PassThroughTransport> Transport;
    DeviceList List;

private:
    struct Drive {
        std::vector<uint8_t> Flash = std::vector<uint8_t>(0x20000);
        std::vector<uint8_t> Staging = std::vector<uint8_t>(0x20000);
        emulator::EmulatedDrive Emulated;
    };
    std::deque<std::unique_ptr<Drive>> drives_;
    uint32_t savedMajor_;
};

bool IsAllZero(const DeviceRecord& record);
