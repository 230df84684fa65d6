#include "tests/support/UpgradeBench.h"

#include <cstdio>
#include <cstring>

#include "upgrade/FirmwareChecksum.h"

BenchDrive::BenchDrive(uint32_t flashSize, uint16_t versionMajor, uint16_t versionMinor, const char* vendor,
                       const char* product) {
    Config.SetVendor(vendor);
    Config.SetProduct(product);
    Config.controllerId = 0x6E15;
    Config.versionMajor = versionMajor;
    Config.versionMinor = versionMinor;
    Config.sizeWordKiB = static_cast<uint16_t>(flashSize / 1024);
    // The storage is the flash size rounded up to whole KiB: what the identity claims.
    Config.flashSize = static_cast<uint32_t>(Config.sizeWordKiB) * 1024;
    Flash.assign(Config.flashSize, 0xFF);
    Staging.assign(Config.flashSize, 0xFF);
    Drive.Configure(Config);
    Drive.Attach(Flash.data(), Staging.data());
}

UpgradeBench::UpgradeBench() : Transport(1), Backend(UpgradeDialogLayout()), Slot(SlotSize, 0) {
    std::memcpy(Slot.data(), "INSERT_FIRMWARE", 15);
    ActiveTransport = &Transport;
}

UpgradeBench::~UpgradeBench() {
    Dialog.reset();
    ActiveTransport = nullptr;
}

BenchDrive& UpgradeBench::AddDrive(uint32_t flashSize, uint16_t versionMajor, uint16_t versionMinor) {
    Drives.push_back(std::make_unique<BenchDrive>(flashSize, versionMajor, versionMinor));
    Transport.AttachDrive(0, static_cast<uint8_t>(Drives.size() - 1), &Drives.back()->Drive);
    return *Drives.back();
}

std::vector<uint8_t> UpgradeBench::PatternImage(uint32_t seed) {
    std::vector<uint8_t> image(131072);
    uint32_t x = seed * 2654435761u + 12345u;
    for (uint8_t& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

void UpgradeBench::FillSlot(const std::vector<uint8_t>& image, const char* checksumText) {
    std::fill(Slot.begin(), Slot.end(), 0);
    std::memcpy(Slot.data(), "1.10", 4);
    char text[5];
    upgrade::FormatChecksumText(upgrade::ImageChecksum(image.data(), image.size()), text);
    std::memcpy(Slot.data() + 5, checksumText != nullptr ? checksumText : text, 4);
    std::memcpy(Slot.data() + 32, image.data(), image.size());
    Image = image;
}

void UpgradeBench::Start() {
    FirmwareOperations::Platform platform{Files, Sleep, Buffers, Slot.data()};
    Dialog = std::make_unique<UpgradeDialog>(Backend, platform);
    Transport.EnumerateDevices(Dialog->DeviceList);
    for (auto& drive : Drives) drive->Drive.ClearLog();
    Backend.Open(*Dialog);
}

std::string UpgradeBench::Buttons() {
    std::string picture;
    picture += Enabled(ControlBrowse) ? 'B' : '-';
    picture += Enabled(ControlUpgrade) ? 'U' : '-';
    picture += Enabled(ControlExit) ? 'E' : '-';
    return picture;
}

std::string UpgradeBench::BrokenInvariants() {
    std::string broken;
    if (Transport.SuccessfulOpens() != Transport.Closes()) {
        broken += "opens " + std::to_string(Transport.SuccessfulOpens()) + " != closes " +
                  std::to_string(Transport.Closes()) + "; ";
    }
    if (Transport.CommandsWhileClosed() != 0) broken += "commands sent to a closed drive; ";
    if (Buffers.Held() != 0) broken += std::to_string(Buffers.Held()) + " buffers not released; ";
    if (Buffers.BadReleases != 0) broken += "a buffer released twice or never obtained; ";
    if (Files.OpenCount() != 0) broken += "a file left open; ";
    return broken;
}

std::vector<LoggedChunk> LoggedChunks(const emulator::EmulatedDrive& drive, uint8_t opcode, uint8_t mode) {
    std::vector<LoggedChunk> chunks;
    for (uint32_t i = 0; i < drive.LogSize(); ++i) {
        const emulator::EmulatedDrive::LogEntry* entry = drive.LogAt(i);
        if (entry->opcode == opcode && entry->mode == mode) {
            chunks.push_back({entry->bufferId * 65536u + entry->bufferOffset, entry->length});
        }
    }
    return chunks;
}

std::string LogLetters(const emulator::EmulatedDrive& drive) {
    std::string letters;
    for (uint32_t i = 0; i < drive.LogSize(); ++i) {
        const emulator::EmulatedDrive::LogEntry* e = drive.LogAt(i);
        char letter = '?';
        if (e->opcode == 0x3B && e->mode == 7) letter = 'W';
        else if (e->opcode == 0x3B && e->mode == 4) letter = 'C';
        else if (e->opcode == 0x3C && e->mode == 2) letter = 'R';
        else if (e->opcode == 0x3C && e->mode == 1 && e->control == 1) letter = 'D';
        else if (e->opcode == 0x3C && e->mode == 1) letter = 'Q';
        else if (e->opcode == 0x12) letter = 'I';
        letters += letter;
    }
    return letters;
}
