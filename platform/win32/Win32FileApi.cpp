#include "platform/win32/Win32FileApi.h"

#include <windows.h>

namespace {

HANDLE ToHandle(FileApi::Handle file) {
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

FileApi::Handle Win32FileApi::OpenForWriting(const char* path) {
    // OPEN_ALWAYS: create a missing file, open an existing one without cutting it; share mode 0.
    HANDLE file = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? InvalidHandle : reinterpret_cast<Handle>(file);
}

int Win32FileApi::GetLength(Handle file, uint64_t* length) {
    // GetFileSize, not GetFileSizeEx: Windows 95 lacks the latter.
    DWORD high = 0;
    ::SetLastError(NO_ERROR);
    const DWORD low = ::GetFileSize(ToHandle(file), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return 0;
    *length = (static_cast<uint64_t>(high) << 32) | low;
    return 1;
}

int Win32FileApi::Truncate(Handle file) {
    if (::SetFilePointer(ToHandle(file), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
    return ::SetEndOfFile(ToHandle(file)) ? 1 : 0;
}

int Win32FileApi::WriteFromStart(Handle file, const uint8_t* bytes, uint32_t length) {
    if (::SetFilePointer(ToHandle(file), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
    DWORD written = 0;
    if (!::WriteFile(ToHandle(file), bytes, length, &written, nullptr)) return 0;
    return written == length ? 1 : 0;
}

void Win32FileApi::Close(Handle file) {
    ::CloseHandle(ToHandle(file));
}

void Win32SleepApi::Pause(unsigned milliseconds) {
    ::Sleep(milliseconds);
}
