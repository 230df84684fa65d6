#pragma once

#include <cstddef>
#include <cstdint>

// The operating system's version record, laid out as the platform's OSVERSIONINFOA (148 bytes)
// so that the version query can fill it directly. Filled once at start-up: the platform id picks
// the transport and the restart path, the major version tells NT 4 from 2000 and later.
struct OsVersionRecord {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char szCSDVersion[128];
};

static_assert(sizeof(OsVersionRecord) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(offsetof(OsVersionRecord, dwPlatformId) == 16, "OSVERSIONINFOA layout");

constexpr uint32_t PlatformWin32s = 0;
constexpr uint32_t PlatformWindows9x = 1;
constexpr uint32_t PlatformWindowsNt = 2;

// The process-wide record.
extern OsVersionRecord OsVersionInfo;
