#pragma once

#include <cstdint>

#include "transport/OsVersionInfo.h"

// The operating system as start-up and restart need it: the version query, the token and
// privilege calls before a forced reboot, the reboot itself and message boxes. Each member mirrors
// the call of the same name (same arguments that matter, same results: zero is failure).
class SystemApi {
public:
    struct Luid {
        uint32_t LowPart;
        int32_t HighPart;
    };
    // TOKEN_PRIVILEGES with one entry.
    struct TokenPrivilege {
        uint32_t PrivilegeCount;
        Luid PrivilegeLuid;
        uint32_t Attributes;
    };
    using Handle = void*;

    // The flags start-up and restart pass, with their Win32 values (platform/win32 checks them
    // against <windows.h>).
    static constexpr unsigned MbOk = 0x00;
    static constexpr uint32_t TokenAdjustPrivileges = 0x0020;
    static constexpr uint32_t TokenQuery = 0x0008;
    static constexpr uint32_t SePrivilegeEnabled = 0x00000002;
    static constexpr unsigned EwxReboot = 0x02;
    static constexpr unsigned EwxForce = 0x04;

    virtual int GetVersionExA(OsVersionRecord* record) = 0;
    virtual Handle GetCurrentProcess() = 0;
    virtual int OpenProcessToken(Handle process, uint32_t desiredAccess, Handle* token) = 0;
    // SYSTEMNAME null: the local system.
    virtual int LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) = 0;
    // No previous state is asked for.
    virtual int AdjustTokenPrivileges(Handle token, int disableAll, const TokenPrivilege* newState) = 0;
    virtual uint32_t GetLastError() = 0;
    virtual int ExitWindowsEx(unsigned flags, uint32_t reason) = 0;
    // A message box without an owner window.
    virtual int ShowMessageBox(const char* text, const char* caption, unsigned type) = 0;

protected:
    ~SystemApi() = default;
};
