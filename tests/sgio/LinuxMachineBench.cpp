#include "tests/sgio/LinuxMachineBench.h"

using emulator::EmulatedDrive;

EmulatedDrive& LinuxMachineBench::AddDrive(const Address& address, const std::string& block, const std::string& generic,
                                          uint32_t flashSize, uint16_t sizeWordKiB) {
    drives_.emplace_back();
    Storage& storage = drives_.back();
    storage.Flash.resize(flashSize);
    storage.Staging.resize(flashSize);
    const unsigned seed = address.Host * 64 + address.Target * 8 + address.Channel + 1;
    for (size_t i = 0; i < flashSize; ++i) storage.Flash[i] = static_cast<uint8_t>(i * seed + (i >> 9));
    emulator::DriveConfig config;
    config.flashSize = flashSize;
    // The controller's default size is 128 KiB: another size must be reported.
    config.sizeWordKiB = sizeWordKiB == 0 && flashSize != 0x20000 ? static_cast<uint16_t>(flashSize / 1024) : sizeWordKiB;
    config.versionMajor = 1;
    config.versionMinor = 5;
    storage.Drive.Configure(config);
    storage.Drive.Attach(storage.Flash.data(), storage.Staging.data());
    Machine.AddDevice(address, 5, block, generic, &storage.Drive);
    return storage.Drive;
}

std::vector<unsigned> LinuxMachineBench::Commands(const EmulatedDrive& drive) {
    std::vector<unsigned> commands;
    for (uint32_t i = 0; i < drive.LogSize(); ++i) {
        const EmulatedDrive::LogEntry* entry = drive.LogAt(i);
        unsigned code = entry->opcode == EmulatedDrive::OpInquiry ? 0x1200u : (entry->opcode << 8) | entry->mode;
        if (code == 0x3C01u && entry->control == 0x01) code = 0x3C11u;
        commands.push_back(code);
    }
    return commands;
}
