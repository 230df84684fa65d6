// combine on program files of any bytes: the locator search, the ELF/PE coverage check with any
// range, and filling the slot in memory. The input's head picks the range to check and may plant
// the locator and an empty slot, which random bytes would never contain, behind headers that the
// fuzzer mutates.
#include <cstring>
#include <string>
#include <vector>

#include "Combine.h"
#include "ExecutableImage.h"
#include "SlotLocator.h"
#include "fuzz/FuzzInput.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"

namespace {

using upgrade::FirmwareSlot;

uint64_t Wide(FuzzInput& in) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | in.Byte();
    return value;
}

constexpr size_t HeadBytes = 1 + 8 + 8 + 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < HeadBytes) return 0;
    FuzzInput in(data, HeadBytes);
    const uint8_t flags = in.Byte();
    const uint64_t offset = Wide(in);
    const uint64_t length = Wide(in);
    const uint32_t plantAt = static_cast<uint32_t>(in.Word()) | static_cast<uint32_t>(in.Word()) << 16;
    const unsigned char* file = data + HeadBytes;
    const size_t fileSize = size - HeadBytes;

    // Any range of the file as it came, read in place so that a read past its end shows.
    const ExecutableImage::Coverage coverage = ExecutableImage::Check(file, fileSize, offset, length);
    if (coverage == ExecutableImage::Coverage::FileBacked) FUZZ_CHECK(offset <= fileSize && length <= fileSize - offset);
    const SlotLocator::Match found = SlotLocator::Find(file, fileSize);
    if (found.count > 0) FUZZ_CHECK(found.offset <= fileSize - SlotLocator::Size);

    std::vector<unsigned char> program(file, file + fileSize);
    if (flags & 1) {
        // The locator and an empty slot where a linked program would have them.
        const size_t at = plantAt % (fileSize + 1);
        const size_t end = at + SlotLocator::Size + FirmwareSlot::Size;
        if (program.size() < end) program.resize(end, 0);
        const auto locator = SlotLocator::Locator();
        std::memcpy(program.data() + at, locator.data(), locator.size());
        std::memcpy(program.data() + at + SlotLocator::Size, FirmwareSlot::Placeholder,
                    FirmwareSlot::PlaceholderLength);
        std::memset(program.data() + at + SlotLocator::Size + FirmwareSlot::PlaceholderLength, 0,
                    FirmwareSlot::HeadSize - FirmwareSlot::PlaceholderLength);
    }

    const std::vector<unsigned char> before = program;
    const std::vector<unsigned char> image(FirmwareSlot::ImageSize, static_cast<unsigned char>(flags));
    const std::string version = (flags & 2) ? "1.0" : std::string(flags >> 5, 'V');
    const Combine::Filled filled = Combine::FillSlot(program, image, version, "program");
    FUZZ_CHECK(program.size() == before.size());
    if (!filled.ok) {
        FUZZ_CHECK(program == before);
        FUZZ_CHECK(!filled.reason.empty());
        return 0;
    }
    // Only the slot after the one locator changes, and it holds what the program will read back.
    const SlotLocator::Match match = SlotLocator::Find(before.data(), before.size());
    FUZZ_CHECK(match.count == 1);
    const size_t slot = match.offset + SlotLocator::Size;
    FUZZ_CHECK(slot + FirmwareSlot::Size <= program.size());
    FUZZ_CHECK(std::memcmp(program.data(), before.data(), slot) == 0);
    FUZZ_CHECK(std::memcmp(program.data() + slot + FirmwareSlot::Size, before.data() + slot + FirmwareSlot::Size,
                           program.size() - slot - FirmwareSlot::Size) == 0);
    const auto* filledSlot = reinterpret_cast<const FirmwareSlot*>(program.data() + slot);
    FUZZ_CHECK(upgrade::SlotIsFilled(program.data() + slot));
    FUZZ_CHECK(upgrade::ExpectedChecksum(filledSlot->ChecksumText) == filled.checksum);
    FUZZ_CHECK(upgrade::ImageChecksum(filledSlot->Image, FirmwareSlot::ImageSize) == filled.checksum);
    FUZZ_CHECK(std::strncmp(filledSlot->VersionText, version.c_str(), FirmwareSlot::VersionTextSize) == 0);
    return 0;
}
