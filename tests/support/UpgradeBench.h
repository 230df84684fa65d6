#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/ActiveTransport.h"
#include "app/ControlIds.h"
#include "app/DialogLayout.h"
#include "app/HeadlessWindowBackend.h"
#include "app/UpgradeDialog.h"
#include "emulator/drive/EmulatedDrive.h"
#include "tests/support/FakeFileApi.h"
#include "tests/support/TestDoubles.h"
#include "tests/support/simulated/EmulatedTransport.h"

// One emulated drive with its own storage.
struct BenchDrive {
    emulator::DriveConfig Config;
    std::vector<uint8_t> Flash;
    std::vector<uint8_t> Staging;
    emulator::EmulatedDrive Drive;

    // A drive of the family whose identity reports FLASHSIZE bytes (through the size word).
    explicit BenchDrive(uint32_t flashSize = 131072, uint16_t versionMajor = 1, uint16_t versionMinor = 0,
                        const char* vendor = "EMULATED", const char* product = "DVD-RW FLASH");
};

// The dialog with everything it runs on: emulated drives behind an EmulatedTransport (made the
// ActiveTransport), the headless window backend, in-memory files, recorded pauses, counted
// buffers and a firmware slot of the test's own.
class UpgradeBench {
public:
    static constexpr size_t SlotSize = 32 + 131072;

    UpgradeBench();
    ~UpgradeBench();

    // Adds a drive at adapter 0, the next free target.
    BenchDrive& AddDrive(uint32_t flashSize = 131072, uint16_t versionMajor = 1, uint16_t versionMinor = 0);
    // Fills the slot with IMAGE (131072 bytes) and its correct checksum text, or CHECKSUMTEXT.
    void FillSlot(const std::vector<uint8_t>& image, const char* checksumText = nullptr);
    // Scans, then opens the dialog (OnInitDialog).
    void Start();

    void Press(int controlId) { Dialog->OnCommand(controlId); }

    std::string Status() { return Backend.GetControlText(ControlStatusLine); }
    const std::vector<std::string>& StatusHistory() { return Backend.ControlById(ControlStatusLine).TextHistory; }
    const std::vector<int>& ProgressHistory() { return Backend.ControlById(ControlProgress).PositionHistory; }
    bool Enabled(int id) { return Backend.IsControlEnabled(id); }
    // "..." / Upgrade / Exit as a three-letter picture: B, U, E when enabled, '-' when not.
    std::string Buttons();
    // The invariants every operation keeps, whatever its outcome; empty when all hold.
    std::string BrokenInvariants();

    static std::vector<uint8_t> PatternImage(uint32_t seed = 1);

    std::vector<std::unique_ptr<BenchDrive>> Drives;
    EmulatedTransport Transport;
    HeadlessWindowBackend Backend;
    FakeFileApi Files;
    RecordingSleep Sleep;
    CountingBufferAllocator Buffers;
    std::vector<uint8_t> Slot;
    std::vector<uint8_t> Image;
    std::unique_ptr<UpgradeDialog> Dialog;
};

// Commands of one kind in a drive's log, as (flash offset, length) pairs in order.
struct LoggedChunk {
    uint32_t FlashOffset;
    uint32_t Length;
    bool operator==(const LoggedChunk& other) const {
        return FlashOffset == other.FlashOffset && Length == other.Length;
    }
};
std::vector<LoggedChunk> LoggedChunks(const emulator::EmulatedDrive& drive, uint8_t opcode, uint8_t mode);
// The drive's log as one letter per command: W write, R read-back, D dump, C commit, I inquiry,
// Q identity query, ? other.
std::string LogLetters(const emulator::EmulatedDrive& drive);
