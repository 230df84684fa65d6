#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The files of the front-end beyond the dump file of the operations: the length of an existing
// file, and the steps that keep a back-up whole on disk or not at all (a temporary file beside
// it, flushed, renamed over it). Every result is 0 or the errno of the failed call.
class FileSystemApi {
public:
    // The length of the file at PATH (links followed) and whether it is a regular file; ENOENT
    // when PATH does not exist.
    virtual int Examine(const char* path, uint64_t* length, bool* regular) = 0;
    // A new file, opened for writing, in the folder of BESIDE with a name that starts with
    // BESIDE's; its name into PATH.
    virtual int CreateTemporary(const std::string& beside, std::string& path, int* fd) = 0;
    virtual int WriteAll(int fd, const uint8_t* bytes, size_t length) = 0;
    virtual int Sync(int fd) = 0;
    virtual int Close(int fd) = 0;
    virtual int Rename(const char* from, const char* to) = 0;
    virtual int Remove(const char* path) = 0;
    // Flushes the folder that holds PATH, so that a rename in it survives a power cut.
    virtual int SyncFolderOf(const char* path) = 0;

protected:
    ~FileSystemApi() = default;
};
