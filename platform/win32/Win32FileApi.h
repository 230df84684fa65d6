#pragma once

#include "upgrade/FileApi.h"
#include "upgrade/SleepApi.h"

// The dump file through CreateFileA and friends.
class Win32FileApi final : public FileApi {
public:
    Handle OpenForWriting(const char* path) override;
    int GetLength(Handle file, uint64_t* length) override;
    int Truncate(Handle file) override;
    int WriteFromStart(Handle file, const uint8_t* bytes, uint32_t length) override;
    void Close(Handle file) override;
};

// Sleep().
class Win32SleepApi final : public SleepApi {
public:
    void Pause(unsigned milliseconds) override;
};
