#include "upgrade/FirmwareSlot.h"

#include "upgrade/FirmwareChecksum.h"

namespace upgrade {

// combine finds the slot in the linked program by the locator right in front of it, so the
// locator must occur exactly once in a program: its plain bytes live here and nowhere else
// (combine keeps them encoded).
struct FirmwareSlotCarrier {
    unsigned char Locator[32];
    FirmwareSlot Slot;
};

// The carrier is rewritten in the program file after linking, so it must stay in file-backed
// initialised data even when nothing seems to need it: kept from the compiler, and on ELF from
// --gc-sections (PE has no section flag for that; there the readers below keep it referenced).
#if defined(__ELF__) && defined(__has_attribute)
#if __has_attribute(retain)
#define FIRMWARE_SLOT_KEEP __attribute__((used, retain))
#endif
#endif
#ifndef FIRMWARE_SLOT_KEEP
#define FIRMWARE_SLOT_KEEP __attribute__((used))
#endif

// Not const: a const object could be placed in read-only data and its initializer trusted by
// the compiler. The non-zero locator and placeholder keep it out of zero-filled data.
extern FirmwareSlotCarrier firmwareSlotCarrier;
FIRMWARE_SLOT_KEEP FirmwareSlotCarrier firmwareSlotCarrier = {
    {0x46, 0x69, 0x72, 0x6D, 0x77, 0x61, 0x72, 0x65, 0x53, 0x6C, 0x6F, 0x74, 0x3E, 0xD7, 0x92, 0xC3,
     0xBB, 0x8C, 0x8A, 0x5B, 0x6C, 0x0A, 0xAC, 0x52, 0xA6, 0xAA, 0xAD, 0x1A, 0xBC, 0xA0, 0x4A, 0x67},
    {{'I', 'N', 'S', 'E', 'R'}, {'T', '_', 'F', 'I', 'R'}, {'M', 'W', 'A', 'R', 'E'}, {}},
};

const FirmwareSlot& EmbeddedSlot() {
    const FirmwareSlot* slot = &firmwareSlotCarrier.Slot;
    // The bytes change after linking: the empty asm hides from the compiler (LTO included) which
    // object the pointer refers to, so every read goes to memory instead of the initializer.
    asm("" : "+r"(slot));
    return *slot;
}

const unsigned char* EmbeddedImage() {
    return EmbeddedSlot().Image;
}

bool SlotIsFilled() {
    return SlotIsFilled(reinterpret_cast<const unsigned char*>(EmbeddedSlot().VersionText));
}

std::uint16_t ExpectedChecksum() {
    return ExpectedChecksum(EmbeddedSlot().ChecksumText);
}

std::uint16_t EmbeddedImageChecksum() {
    return ImageChecksum(EmbeddedImage(), FirmwareSlot::ImageSize);
}

}  // namespace upgrade
