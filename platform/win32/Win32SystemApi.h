#pragma once

#include "app/SystemApi.h"

// GetVersionExA, the token and privilege calls, ExitWindowsEx and MessageBoxA.
class Win32SystemApi final : public SystemApi {
public:
    int GetVersionExA(OsVersionRecord* record) override;
    Handle GetCurrentProcess() override;
    int OpenProcessToken(Handle process, uint32_t desiredAccess, Handle* token) override;
    int LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
    int AdjustTokenPrivileges(Handle token, int disableAll, const TokenPrivilege* newState) override;
    uint32_t GetLastError() override;
    int ExitWindowsEx(unsigned flags, uint32_t reason) override;
    int ShowMessageBox(const char* text, const char* caption, unsigned type) override;
};
