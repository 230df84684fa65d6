#pragma once

#include <cstdint>

// The dump file as the platform offers it. Mirrors the calls it stands for: an open that creates
// a missing file and keeps an existing one as it is, shared with nobody; its length; cutting it to
// nothing; writing from its start; closing.
class FileApi {
public:
    using Handle = intptr_t;
    static constexpr Handle InvalidHandle = -1;

    // Opens PATH for writing only, creating it when missing, never truncating; no sharing.
    virtual Handle OpenForWriting(const char* path) = 0;
    // Non-zero when the length could be read into *length.
    virtual int GetLength(Handle file, uint64_t* length) = 0;
    // Cuts the file to length 0. Non-zero on success.
    virtual int Truncate(Handle file) = 0;
    // Writes LENGTH bytes at the file's start. Non-zero only when all of them were written.
    virtual int WriteFromStart(Handle file, const uint8_t* bytes, uint32_t length) = 0;
    virtual void Close(Handle file) = 0;

protected:
    ~FileApi() = default;
};
