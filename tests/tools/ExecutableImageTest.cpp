#include "ExecutableImage.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SyntheticExecutable.h"

namespace {

using Coverage = ExecutableImage::Coverage;
using Bytes = std::vector<unsigned char>;
constexpr std::size_t PayloadAt = SyntheticExecutable::PayloadOffset;
constexpr std::uint32_t Progbits = 1, Nobits = 8;
constexpr std::uint64_t AllocWrite = 3, NoAlloc = 0;

const Bytes Payload(1000, 0xAB);

struct Case {
    const char* name;
    Bytes file;
    std::uint64_t offset;
    std::uint64_t length;
    Coverage coverage;
};

Bytes Patched(Bytes file, std::size_t offset, std::uint64_t value, unsigned width) {
    SyntheticExecutable::Put(file, offset, value, width);
    return file;
}

void ExpectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(ExecutableImage::Check(c.file.data(), c.file.size(), c.offset, c.length), c.coverage) << c.name;
}

TEST(ExecutableImage, ElfSections) {
    const Bytes elf64 = SyntheticExecutable::Elf(true, Progbits, AllocWrite, Payload);
    const Bytes elf32 = SyntheticExecutable::Elf(false, Progbits, AllocWrite, Payload);
    const std::size_t table64 = PayloadAt + 1000;  // already 8-aligned
    const std::size_t section64 = table64 + 64;
    ExpectAll({
        {"64-bit, whole section", elf64, PayloadAt, 1000, Coverage::FileBacked},
        {"64-bit, inside section", elf64, PayloadAt + 10, 900, Coverage::FileBacked},
        {"32-bit, whole section", elf32, PayloadAt, 1000, Coverage::FileBacked},
        {"one byte past the section", elf64, PayloadAt + 1, 1000, Coverage::NotFileBacked},
        {"one byte before the section", elf64, PayloadAt - 1, 10, Coverage::NotFileBacked},
        {"range length overflows", elf64, PayloadAt + 1, ~std::uint64_t{0}, Coverage::NotFileBacked},
        {"zero-filled section", SyntheticExecutable::Elf(true, Nobits, AllocWrite, Payload), PayloadAt, 1000,
         Coverage::NotFileBacked},
        {"section not loaded", SyntheticExecutable::Elf(true, Progbits, NoAlloc, Payload), PayloadAt, 1000,
         Coverage::NotFileBacked},
        {"32-bit zero-filled section", SyntheticExecutable::Elf(false, Nobits, AllocWrite, Payload), PayloadAt, 1000,
         Coverage::NotFileBacked},
        {"section runs past the file end", Patched(elf64, section64 + 32, 1 << 20, 8), PayloadAt, 1000,
         Coverage::NotFileBacked},
        {"section offset wraps around", Patched(elf64, section64 + 24, ~std::uint64_t{0} - 8, 8), PayloadAt, 1000,
         Coverage::NotFileBacked},
        {"section table past the file end", Patched(elf64, 0x28, elf64.size(), 8), PayloadAt, 1000, Coverage::Malformed},
        {"section table offset huge", Patched(elf64, 0x28, ~std::uint64_t{0} - 4, 8), PayloadAt, 1000, Coverage::Malformed},
        {"section count past the file end", Patched(elf64, 0x3C, 3, 2), PayloadAt, 1000, Coverage::Malformed},
        {"extended count past the file end", Patched(Patched(elf64, 0x3C, 0, 2), table64 + 32, 0x10000, 8), PayloadAt, 1000,
         Coverage::Malformed},
        {"extended count of two", Patched(Patched(elf64, 0x3C, 0, 2), table64 + 32, 2, 8), PayloadAt, 1000,
         Coverage::FileBacked},
        {"entry size too small", Patched(elf64, 0x3A, 32, 2), PayloadAt, 1000, Coverage::Malformed},
        {"no section table", Patched(elf64, 0x28, 0, 8), PayloadAt, 1000, Coverage::Malformed},
        {"header cut short", Bytes(elf64.begin(), elf64.begin() + 0x30), PayloadAt, 1000, Coverage::Malformed},
        {"only the magic", Bytes(elf64.begin(), elf64.begin() + 4), PayloadAt, 1000, Coverage::Malformed},
        {"big-endian", Patched(elf64, 5, 2, 1), PayloadAt, 1000, Coverage::UnknownFormat},
        {"unknown class", Patched(elf64, 4, 3, 1), PayloadAt, 1000, Coverage::UnknownFormat},
    });
}

TEST(ExecutableImage, PeSections) {
    const Bytes pe = SyntheticExecutable::Pe(1024, 1000, Payload);
    const std::size_t section = 0x40 + 24;
    ExpectAll({
        {"whole section", pe, PayloadAt, 1000, Coverage::FileBacked},
        {"inside section", pe, PayloadAt + 500, 500, Coverage::FileBacked},
        {"in the padding past VirtualSize", pe, PayloadAt + 1, 1000, Coverage::NotFileBacked},
        {"VirtualSize 0 counts the raw size", SyntheticExecutable::Pe(1024, 0, Payload), PayloadAt, 1024,
         Coverage::FileBacked},
        {"raw data shorter than the range", SyntheticExecutable::Pe(512, 1000, Payload), PayloadAt, 1000,
         Coverage::NotFileBacked},
        {"no raw data", SyntheticExecutable::Pe(0, 1000, Payload), PayloadAt, 1000, Coverage::NotFileBacked},
        {"raw data past the file end", Patched(pe, section + 20, pe.size() - 100, 4), pe.size() - 100, 50,
         Coverage::NotFileBacked},
        {"before the section", pe, PayloadAt - 8, 16, Coverage::NotFileBacked},
        {"section table past the file end", Patched(pe, 0x46, 100, 2), PayloadAt, 1000, Coverage::Malformed},
        {"optional header past the file end", Patched(pe, 0x40 + 20, 0xFFFF, 2), PayloadAt, 1000, Coverage::Malformed},
        {"PE header past the file end", Patched(pe, 0x3C, 0xFFFFFFF0u, 4), PayloadAt, 1000, Coverage::Malformed},
        {"DOS program", Patched(pe, 0x40, 0, 4), PayloadAt, 1000, Coverage::UnknownFormat},
        {"header cut short", Bytes(pe.begin(), pe.begin() + 0x30), PayloadAt, 1000, Coverage::Malformed},
    });
}

TEST(ExecutableImage, OtherFiles) {
    ExpectAll({
        {"text", Bytes(4000, 'x'), 100, 10, Coverage::UnknownFormat},
        {"empty", Bytes(), 0, 0, Coverage::UnknownFormat},
    });
}

}  // namespace
