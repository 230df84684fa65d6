#include "platform/win32/Win32SystemApi.h"

#include <windows.h>

#include <cstddef>

static_assert(sizeof(OsVersionRecord) == sizeof(OSVERSIONINFOA), "the version record is OSVERSIONINFOA");
static_assert(offsetof(OsVersionRecord, dwPlatformId) == offsetof(OSVERSIONINFOA, dwPlatformId), "layout");
static_assert(offsetof(OsVersionRecord, szCSDVersion) == offsetof(OSVERSIONINFOA, szCSDVersion), "layout");
static_assert(sizeof(SystemApi::Luid) == sizeof(LUID), "LUID");
static_assert(sizeof(SystemApi::TokenPrivilege) == sizeof(TOKEN_PRIVILEGES), "TOKEN_PRIVILEGES with one entry");

int Win32SystemApi::GetVersionExA(OsVersionRecord* record) {
    return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(record)) ? 1 : 0;
}

SystemApi::Handle Win32SystemApi::GetCurrentProcess() {
    return ::GetCurrentProcess();
}

int Win32SystemApi::OpenProcessToken(Handle process, uint32_t desiredAccess, Handle* token) {
    HANDLE opened = nullptr;
    const BOOL ok = ::OpenProcessToken(process, desiredAccess, &opened);
    *token = opened;
    return ok ? 1 : 0;
}

int Win32SystemApi::LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) {
    LUID value = {};
    const BOOL ok = ::LookupPrivilegeValueA(systemName, name, &value);
    if (ok) {
        luid->LowPart = value.LowPart;
        luid->HighPart = value.HighPart;
    }
    return ok ? 1 : 0;
}

int Win32SystemApi::AdjustTokenPrivileges(Handle token, int disableAll, const TokenPrivilege* newState) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = newState->PrivilegeCount;
    privileges.Privileges[0].Luid.LowPart = newState->PrivilegeLuid.LowPart;
    privileges.Privileges[0].Luid.HighPart = newState->PrivilegeLuid.HighPart;
    privileges.Privileges[0].Attributes = newState->Attributes;
    return ::AdjustTokenPrivileges(token, disableAll ? TRUE : FALSE, &privileges, 0, nullptr, nullptr) ? 1 : 0;
}

uint32_t Win32SystemApi::GetLastError() {
    return ::GetLastError();
}

int Win32SystemApi::ExitWindowsEx(unsigned flags, uint32_t reason) {
    return ::ExitWindowsEx(flags, reason) ? 1 : 0;
}

int Win32SystemApi::ShowMessageBox(const char* text, const char* caption, unsigned type) {
    return ::MessageBoxA(nullptr, text, caption, type);
}
