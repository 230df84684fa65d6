#include "ExecutableImage.h"

#include <cstring>

namespace {

// Little-endian reads that fail instead of reading past the end of the file.
class Reader {
public:
    Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool Get(std::uint64_t offset, unsigned width, std::uint64_t& value) const {
        if (offset > size_ || width > size_ - offset) return false;
        value = 0;
        for (unsigned i = width; i > 0; --i) value = (value << 8) | data_[offset + i - 1];
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
};

// Whether [start, start + extent) lies inside the file and holds [offset, offset + length).
bool Holds(std::uint64_t start, std::uint64_t extent, std::size_t fileSize, std::uint64_t offset,
           std::uint64_t length) {
    if (start > fileSize || extent > fileSize - start) return false;
    return offset >= start && length <= extent && offset - start <= extent - length;
}

constexpr std::uint32_t ShtNull = 0;
constexpr std::uint32_t ShtNobits = 8;
constexpr std::uint64_t ShfAlloc = 2;

}  // namespace

ExecutableImage::Coverage ExecutableImage::Check(const unsigned char* data, std::size_t size, std::uint64_t offset,
                                                 std::uint64_t length) {
    if (size >= 4 && std::memcmp(data,
                                 "\x7f"
                                 "ELF",
                                 4) == 0)
        return CheckElf(data, size, offset, length);
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') return CheckPe(data, size, offset, length);
    return Coverage::UnknownFormat;
}

ExecutableImage::Coverage ExecutableImage::CheckElf(const unsigned char* data, std::size_t size, std::uint64_t offset,
                                                    std::uint64_t length) {
    const Reader file(data, size);
    std::uint64_t elfClass = 0, encoding = 0;
    if (!file.Get(4, 1, elfClass) || !file.Get(5, 1, encoding)) return Coverage::Malformed;
    if (encoding != 1 || (elfClass != 1 && elfClass != 2)) return Coverage::UnknownFormat;
    const bool wide = elfClass == 2;
    const unsigned word = wide ? 8 : 4;

    std::uint64_t tableOffset = 0, entrySize = 0, count = 0;
    if (!file.Get(wide ? 0x28 : 0x20, word, tableOffset) || !file.Get(wide ? 0x3A : 0x2E, 2, entrySize) ||
        !file.Get(wide ? 0x3C : 0x30, 2, count))
        return Coverage::Malformed;
    if (tableOffset == 0 || entrySize < (wide ? 64u : 40u)) return Coverage::Malformed;
    // With 0xFF00 sections or more, the count moves to the first entry's size field.
    if (count == 0 && !file.Get(tableOffset + (wide ? 32 : 20), word, count)) return Coverage::Malformed;
    if (tableOffset > size || count > (size - tableOffset) / entrySize) return Coverage::Malformed;

    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = tableOffset + i * entrySize;
        std::uint64_t type = 0, flags = 0, start = 0, extent = 0;
        if (!file.Get(entry + 4, 4, type) || !file.Get(entry + 8, word, flags) ||
            !file.Get(entry + (wide ? 24 : 16), word, start) || !file.Get(entry + (wide ? 32 : 20), word, extent))
            return Coverage::Malformed;
        if (type == ShtNull || type == ShtNobits || (flags & ShfAlloc) == 0) continue;
        if (Holds(start, extent, size, offset, length)) return Coverage::FileBacked;
    }
    return Coverage::NotFileBacked;
}

ExecutableImage::Coverage ExecutableImage::CheckPe(const unsigned char* data, std::size_t size, std::uint64_t offset,
                                                   std::uint64_t length) {
    const Reader file(data, size);
    std::uint64_t peOffset = 0, signature = 0;
    if (!file.Get(0x3C, 4, peOffset) || !file.Get(peOffset, 4, signature)) return Coverage::Malformed;
    if (signature != 0x00004550) return Coverage::UnknownFormat;  // "PE\0\0"; else plain DOS

    std::uint64_t count = 0, optionalHeaderSize = 0;
    if (!file.Get(peOffset + 6, 2, count) || !file.Get(peOffset + 20, 2, optionalHeaderSize))
        return Coverage::Malformed;
    const std::uint64_t table = peOffset + 24 + optionalHeaderSize;
    if (table > size || count > (size - table) / 40) return Coverage::Malformed;

    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = table + i * 40;
        std::uint64_t virtualSize = 0, rawSize = 0, rawStart = 0;
        if (!file.Get(entry + 8, 4, virtualSize) || !file.Get(entry + 16, 4, rawSize) ||
            !file.Get(entry + 20, 4, rawStart))
            return Coverage::Malformed;
        // Raw data past VirtualSize only pads the section to the file alignment; the loader does
        // not map it. A VirtualSize of 0 (some old linkers) means the raw size counts.
        const std::uint64_t loaded = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
        if (Holds(rawStart, loaded, size, offset, length)) return Coverage::FileBacked;
    }
    return Coverage::NotFileBacked;
}
