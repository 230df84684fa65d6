#pragma once

#include <stddef.h>
#include <stdint.h>

namespace emulator {

// What an emulated drive reports about itself. Every field may be changed freely; the text
// fields are not NUL-terminated (INQUIRY carries them space padded), use the setters to fill
// them from C strings.
struct DriveConfig {
    static constexpr uint32_t NoVersionOffset = 0xFFFFFFFFu;
    // The flash of a drive whose size nothing else gives: 128 KiB, that of the default controller.
    static constexpr uint32_t DefaultFlashSize = 0x20000;

    // The flash size a controller of the family usually has, in bytes; 0 for a controller id
    // the family does not know. Kept apart from the host's own table, so that a wrong size there
    // shows up as a disagreement with the drive instead of being shared by both.
    static uint32_t UsualFlashSize(uint16_t controllerId);

    uint8_t deviceType = 0x05;
    char vendor[8] = {'E', 'M', 'U', 'L', 'A', 'T', 'E', 'D'};
    char product[16] = {'D', 'V', 'D', '-', 'R', 'W', ' ', 'F', 'L', 'A', 'S', 'H', ' ', ' ', ' ', ' '};
    char revision[4] = {'1', '.', '0', '0'};
    // Unit serial number, space padded. Empty (all NUL) means the drive has none and offers no
    // serial number page; the emulators that give drives to an operating system set one.
    char serial[16] = {};

    uint16_t makerWord = 0x4A7C;
    uint16_t controllerId = 0x6E15;
    uint16_t versionMajor = 1;
    uint16_t versionMinor = 0;
    // Flash size word of the identity block in KiB, reported as it stands. Drives of the family
    // report 0 when their flash has the controller's usual size (UsualFlashSize); the host then
    // picks that size itself.
    uint16_t sizeWordKiB = 0;

    // Bytes in each of the flash and staging buffers handed to the drive. May differ from what
    // the identity block claims, so that a host that trusts the wrong one can be caught.
    uint32_t flashSize = DefaultFlashSize;

    // When not NoVersionOffset the identity block reports the two little-endian words found in
    // the committed flash at this offset instead of versionMajor/versionMinor, so a committed
    // image changes the version the drive reports.
    uint32_t versionOffset = NoVersionOffset;

    void SetVendor(const char* text) { SetPadded(vendor, sizeof vendor, text); }
    void SetProduct(const char* text) { SetPadded(product, sizeof product, text); }
    void SetRevision(const char* text) { SetPadded(revision, sizeof revision, text); }
    void SetSerial(const char* text) { SetPadded(serial, sizeof serial, text); }
    bool HasSerial() const { return serial[0] != '\0'; }

    // Copies text and pads with spaces; text longer than the field is cut.
    static void SetPadded(char* field, size_t size, const char* text);
};

}  // namespace emulator
