#pragma once

#include <cstddef>
#include <cstdint>

namespace upgrade {

// The block of the program's initialised data that holds the one firmware image this program can
// write. The build leaves a placeholder in it; combine fills it in the linked program file.
struct FirmwareSlot {
    static constexpr std::size_t VersionTextSize = 5;
    static constexpr std::size_t ChecksumTextSize = 5;
    static constexpr std::size_t HeadSize = 32;
    static constexpr std::size_t ImageSize = 131072;
    static constexpr std::size_t Size = HeadSize + ImageSize;
    // What an unfilled slot starts with; it overlays VersionText, ChecksumText and five zero bytes.
    static constexpr char Placeholder[] = "INSERT_FIRMWARE";
    static constexpr std::size_t PlaceholderLength = sizeof(Placeholder) - 1;

    char VersionText[VersionTextSize];                                        // up to 4 characters, then NUL
    char ChecksumText[ChecksumTextSize];                                      // 4 upper-case hex digits, then NUL
    unsigned char Reserved[HeadSize - VersionTextSize - ChecksumTextSize];  // zero
    unsigned char Image[ImageSize];
};

static_assert(offsetof(FirmwareSlot, VersionText) == 0x00, "slot layout is fixed");
static_assert(offsetof(FirmwareSlot, ChecksumText) == 0x05, "slot layout is fixed");
static_assert(offsetof(FirmwareSlot, Reserved) == 0x0A, "slot layout is fixed");
static_assert(offsetof(FirmwareSlot, Image) == 0x20, "slot layout is fixed");
static_assert(sizeof(FirmwareSlot) == FirmwareSlot::Size, "slot has no padding");
static_assert(FirmwareSlot::PlaceholderLength == 15, "placeholder spans 15 bytes");

// The slot built into this program, as combine left it in the program file. Only programs that
// link firmware_slot have these.
const FirmwareSlot& EmbeddedSlot();
const unsigned char* EmbeddedImage();  // FirmwareSlot::ImageSize bytes
bool SlotIsFilled();
std::uint16_t ExpectedChecksum();
std::uint16_t EmbeddedImageChecksum();

}  // namespace upgrade
