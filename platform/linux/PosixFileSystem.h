#pragma once

#include "cli/FileSystemApi.h"

// The back-up's file calls on a POSIX system: stat, mkstemp, write, fsync, close, rename,
// unlink, and fsync of the folder.
class PosixFileSystem final : public FileSystemApi {
public:
    int Examine(const char* path, uint64_t* length, bool* regular) override;
    int CreateTemporary(const std::string& beside, std::string& path, int* fd) override;
    int WriteAll(int fd, const uint8_t* bytes, size_t length) override;
    int Sync(int fd) override;
    int Close(int fd) override;
    int Rename(const char* from, const char* to) override;
    int Remove(const char* path) override;
    int SyncFolderOf(const char* path) override;
};
