#pragma once

#include <stdint.h>

#include <string>

#include "emulator/drive/EmulatedDrive.h"

namespace emulator {

// A disc for an emulated drive: a read-only image file of whole 2048-byte blocks, read block by
// block as the drive is asked for them, so that a disc of gigabytes costs no memory. Host side
// only (POSIX or the C runtime's low-level files on Windows, 64-bit offsets on both).
class MediumFile {
public:
    MediumFile() = default;
    MediumFile(const MediumFile&) = delete;
    MediumFile& operator=(const MediumFile&) = delete;
    ~MediumFile();

    // Opens PATH; false with PROBLEM ("PATH holds 3000 bytes, not whole blocks of 2048") when it
    // cannot be read, is not a plain file, is empty, is not whole blocks or has more blocks than
    // READ CAPACITY(10) can tell. An image opened before is closed first.
    bool Open(const std::string& path, std::string& problem);
    void Close();
    uint32_t Blocks() const { return blocks_; }

    // COUNT blocks from block LBA on into OUT; false when the file cannot give them (a read
    // error, a file cut short since it was opened).
    bool Read(uint32_t lba, uint32_t count, uint8_t* out);

    // The disc as the drive takes it; valid while this object lives and stays open.
    EmulatedDrive::Medium AsMedium();

private:
    static bool ReadBlocks(void* self, uint32_t lba, uint32_t count, uint8_t* out);

    int fd_ = -1;
    uint32_t blocks_ = 0;
};

}  // namespace emulator
