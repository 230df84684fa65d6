#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Minimal ELF and PE files with one section over a payload, for checking how combine reads
// section tables without a linker in the loop.
class SyntheticExecutable {
public:
    static constexpr std::size_t PayloadOffset = 0x200;

    // Little-endian ELF (64-bit when wide) whose section 1 has the given type and flags and covers
    // the payload at PayloadOffset; the section table follows the payload.
    static std::vector<unsigned char> Elf(bool wide, std::uint32_t type, std::uint64_t flags,
                                          const std::vector<unsigned char>& payload);

    // PE with no optional header and one section whose raw data starts at PayloadOffset. The
    // file holds the payload, padded to rawSize.
    static std::vector<unsigned char> Pe(std::uint32_t rawSize, std::uint32_t virtualSize,
                                         const std::vector<unsigned char>& payload);

    // A slot as the build leaves it: locator, placeholder, zero bytes.
    static std::vector<unsigned char> UnfilledSlot();

    static void Put(std::vector<unsigned char>& bytes, std::size_t offset, std::uint64_t value, unsigned width);
};
