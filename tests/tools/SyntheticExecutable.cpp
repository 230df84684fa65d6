#include "SyntheticExecutable.h"

#include <cstring>

#include "SlotLocator.h"
#include "upgrade/FirmwareSlot.h"

void SyntheticExecutable::Put(std::vector<unsigned char>& bytes, std::size_t offset, std::uint64_t value,
                              unsigned width) {
    for (unsigned i = 0; i < width; ++i) bytes.at(offset + i) = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<unsigned char> SyntheticExecutable::Elf(bool wide, std::uint32_t type, std::uint64_t flags,
                                                    const std::vector<unsigned char>& payload) {
    const unsigned word = wide ? 8 : 4;
    const std::size_t entrySize = wide ? 64 : 40;
    const std::size_t table = (PayloadOffset + payload.size() + 7) & ~std::size_t{7};
    std::vector<unsigned char> file(table + 2 * entrySize, 0);
    std::memcpy(file.data(),
                "\x7f"
                "ELF",
                4);
    file[4] = wide ? 2 : 1;  // class
    file[5] = 1;             // little-endian
    file[6] = 1;             // version
    Put(file, 16, 2, 2);     // executable
    Put(file, 18, wide ? 62 : 3, 2);
    Put(file, 20, 1, 4);
    Put(file, wide ? 0x28 : 0x20, table, word);
    Put(file, wide ? 0x34 : 0x28, wide ? 64 : 52, 2);
    Put(file, wide ? 0x3A : 0x2E, entrySize, 2);
    Put(file, wide ? 0x3C : 0x30, 2, 2);
    std::memcpy(file.data() + PayloadOffset, payload.data(), payload.size());

    const std::size_t section = table + entrySize;
    Put(file, section + 4, type, 4);
    Put(file, section + 8, flags, word);
    Put(file, section + (wide ? 24 : 16), PayloadOffset, word);
    Put(file, section + (wide ? 32 : 20), payload.size(), word);
    return file;
}

std::vector<unsigned char> SyntheticExecutable::Pe(std::uint32_t rawSize, std::uint32_t virtualSize,
                                                   const std::vector<unsigned char>& payload) {
    const std::size_t contents = payload.size() > rawSize ? payload.size() : rawSize;
    std::vector<unsigned char> file(PayloadOffset + contents, 0);
    file[0] = 'M';
    file[1] = 'Z';
    Put(file, 0x3C, 0x40, 4);
    std::memcpy(file.data() + 0x40, "PE\0\0", 4);
    Put(file, 0x44, 0x14C, 2);  // i386
    Put(file, 0x46, 1, 2);      // one section
    const std::size_t section = 0x40 + 24;
    std::memcpy(file.data() + section, ".data\0\0\0", 8);
    Put(file, section + 8, virtualSize, 4);
    Put(file, section + 12, 0x1000, 4);
    Put(file, section + 16, rawSize, 4);
    Put(file, section + 20, PayloadOffset, 4);
    Put(file, section + 36, 0xC0000040, 4);  // initialised data, read, write
    std::memcpy(file.data() + PayloadOffset, payload.data(), payload.size());
    return file;
}

std::vector<unsigned char> SyntheticExecutable::UnfilledSlot() {
    std::vector<unsigned char> slot(SlotLocator::Size + upgrade::FirmwareSlot::Size, 0);
    const auto locator = SlotLocator::Locator();
    std::memcpy(slot.data(), locator.data(), locator.size());
    std::memcpy(slot.data() + locator.size(), upgrade::FirmwareSlot::Placeholder,
                upgrade::FirmwareSlot::PlaceholderLength);
    return slot;
}
