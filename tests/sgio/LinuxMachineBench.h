#pragma once

#include <deque>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "tests/support/simulated/SimulatedLinuxMachine.h"

// A simulated Linux machine with emulated drives whose storage the bench keeps.
class LinuxMachineBench {
public:
    using Address = SimulatedLinuxMachine::Address;

    SimulatedLinuxMachine Machine;

    // A drive of the family at ADDRESS with the given nodes ("sr0", "sg0"; empty: none). Its
    // flash holds a pattern of its own; FLASHSIZE is what the drive stores, and what its identity
    // block reports unless SIZEWORDKIB says otherwise.
    emulator::EmulatedDrive& AddDrive(const Address& address, const std::string& block, const std::string& generic,
                                      uint32_t flashSize = 0x20000, uint16_t sizeWordKiB = 0);
    // The commands a drive received, as opcode and mode: 0x1200 INQUIRY, 0x3C01 identity query,
    // 0x3C11 dump (mode 1, control 1), 0x3C02 read-back, 0x3B07 chunk write, 0x3B04 commit.
    static std::vector<unsigned> Commands(const emulator::EmulatedDrive& drive);

private:
    struct Storage {
        emulator::EmulatedDrive Drive;
        std::vector<uint8_t> Flash;
        std::vector<uint8_t> Staging;
    };
    std::deque<Storage> drives_;
};
