#pragma once

#include "upgrade/FileApi.h"
#include "upgrade/SleepApi.h"

// The dump file on a POSIX system, for the host build of the program's logic. An exclusive
// advisory lock stands in for Windows' "no sharing".
class HostFileApi final : public FileApi {
public:
    Handle OpenForWriting(const char* path) override;
    int GetLength(Handle file, uint64_t* length) override;
    int Truncate(Handle file) override;
    int WriteFromStart(Handle file, const uint8_t* bytes, uint32_t length) override;
    void Close(Handle file) override;
};

class HostSleepApi final : public SleepApi {
public:
    void Pause(unsigned milliseconds) override;
};
