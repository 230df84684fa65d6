#include "emulator/drive/MediumFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace emulator {

namespace {

// The C runtime's low-level calls on Windows carry 64-bit offsets only in their own names.
#ifdef _WIN32
int OpenForReading(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }
bool PlainFileSize(int fd, uint64_t& size) {
    struct _stati64 info;
    if (_fstati64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}
bool SeekTo(int fd, uint64_t offset) {
    return _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) == static_cast<__int64>(offset);
}
long ReadSome(int fd, uint8_t* out, uint32_t length) { return _read(fd, out, length); }
void CloseFile(int fd) { _close(fd); }
#else
int OpenForReading(const char* path) { return open(path, O_RDONLY | O_CLOEXEC); }
bool PlainFileSize(int fd, uint64_t& size) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}
bool SeekTo(int fd, uint64_t offset) {
    return lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}
long ReadSome(int fd, uint8_t* out, uint32_t length) { return static_cast<long>(read(fd, out, length)); }
void CloseFile(int fd) { close(fd); }
#endif

}  // namespace

MediumFile::~MediumFile() { Close(); }

void MediumFile::Close() {
    if (fd_ >= 0) CloseFile(fd_);
    fd_ = -1;
    blocks_ = 0;
}

bool MediumFile::Open(const std::string& path, std::string& problem) {
    Close();
    const int fd = OpenForReading(path.c_str());
    uint64_t size = 0;
    if (fd < 0 || !PlainFileSize(fd, size)) {
        problem = path + " cannot be read as a file";
    } else if (size == 0) {
        problem = path + " is empty";
    } else if (size % EmulatedDrive::BlockLength != 0) {
        problem = path + " holds " + std::to_string(size) + " bytes, not whole blocks of " +
                  std::to_string(EmulatedDrive::BlockLength);
    } else if (size / EmulatedDrive::BlockLength > 0xFFFFFFFFu) {
        // READ CAPACITY(10) tells the last block in 32 bits, all ones meaning "more".
        problem = path + " holds more than 4294967295 blocks";
    } else {
        fd_ = fd;
        blocks_ = static_cast<uint32_t>(size / EmulatedDrive::BlockLength);
        return true;
    }
    if (fd >= 0) CloseFile(fd);
    return false;
}

bool MediumFile::Read(uint32_t lba, uint32_t count, uint8_t* out) {
    if (fd_ < 0 || static_cast<uint64_t>(lba) + count > blocks_) return false;
    if (!SeekTo(fd_, static_cast<uint64_t>(lba) * EmulatedDrive::BlockLength)) return false;
    uint64_t left = static_cast<uint64_t>(count) * EmulatedDrive::BlockLength;
    while (left != 0) {
        const uint32_t step = left < 0x40000000u ? static_cast<uint32_t>(left) : 0x40000000u;
        const long got = ReadSome(fd_, out, step);
        if (got <= 0) return false;  // an error, or the file is shorter than when it was opened
        out += got;
        left -= static_cast<uint64_t>(got);
    }
    return true;
}

EmulatedDrive::Medium MediumFile::AsMedium() {
    EmulatedDrive::Medium medium;
    if (fd_ >= 0) {
        medium.blocks = blocks_;
        medium.read = &MediumFile::ReadBlocks;
        medium.context = this;
    }
    return medium;
}

bool MediumFile::ReadBlocks(void* self, uint32_t lba, uint32_t count, uint8_t* out) {
    return static_cast<MediumFile*>(self)->Read(lba, count, out);
}

}  // namespace emulator
