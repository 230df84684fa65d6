// Writes small ELF and PE files with a slot in them, for the end-to-end test of combine: files
// the linker would not make, such as a slot in zero-filled data.
//   slot_fixture KIND FILE
#include <cstdio>
#include <cstring>
#include <vector>

#include "SyntheticExecutable.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: slot_fixture elf|elf-nobits|elf-malformed|pe|pe-short|raw FILE\n");
        return 2;
    }
    const std::vector<unsigned char> slot = SyntheticExecutable::UnfilledSlot();
    const char* kind = argv[1];
    std::vector<unsigned char> file;
    if (std::strcmp(kind, "elf") == 0) {
        file = SyntheticExecutable::Elf(true, 1, 3, slot);
    } else if (std::strcmp(kind, "elf-nobits") == 0) {
        file = SyntheticExecutable::Elf(true, 8, 3, slot);
    } else if (std::strcmp(kind, "elf-malformed") == 0) {
        file = SyntheticExecutable::Elf(true, 1, 3, slot);
        SyntheticExecutable::Put(file, 0x3C, 0x100, 2);  // more sections than the file holds
    } else if (std::strcmp(kind, "pe") == 0) {
        file = SyntheticExecutable::Pe(131584, static_cast<std::uint32_t>(slot.size()), slot);
    } else if (std::strcmp(kind, "pe-short") == 0) {
        file = SyntheticExecutable::Pe(131072, 0, slot);
    } else if (std::strcmp(kind, "raw") == 0) {
        file = slot;
    } else {
        std::fprintf(stderr, "slot_fixture: unknown kind %s\n", kind);
        return 2;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "slot_fixture: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
