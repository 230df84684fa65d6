#include "platform/win32/Win32CombineFileApi.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

namespace {

std::string WindowsError() {
    const DWORD code = GetLastError();
    char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text, nullptr);
    // The system's texts end in a line break, and a message of combine is one line.
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' || text[length - 1] == '.'))
        --length;
    if (length == 0) {
        std::snprintf(text, sizeof text, "Windows error %lu", static_cast<unsigned long>(code));
        return text;
    }
    return std::string(text, length);
}

// Not std::filesystem::equivalent: on Windows it pulls in calls that Windows 98 lacks
// (CreateHardLinkW and friends), and combine.exe is to run there too.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return ok != FALSE;
}

}  // namespace

std::string Win32CombineFileApi::Describe(std::FILE* file, Facts& facts) {
    struct _stati64 status;
    if (_fstati64(_fileno(file), &status) != 0) return std::strerror(errno);
    facts.regular = (status.st_mode & _S_IFMT) == _S_IFREG;
    facts.size = static_cast<std::uint64_t>(status.st_size);
    facts.mode = static_cast<unsigned>(status.st_mode) & 0777u;
    return "";
}

int Win32CombineFileApi::ProcessId() {
    return _getpid();
}

CombineFileApi::Created Win32CombineFileApi::CreateNew(const std::string& path, int& descriptor, std::string& error) {
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
        descriptor = fd;
        return Created::Ok;
    }
    if (errno == EEXIST) return Created::NameTaken;
    error = std::strerror(errno);
    return Created::Failed;
}

std::string Win32CombineFileApi::Write(int descriptor, const unsigned char* bytes, std::size_t length,
                                       std::size_t& written) {
    const int count = _write(descriptor, bytes, static_cast<unsigned>(length));
    if (count < 0) return std::strerror(errno);
    written = static_cast<std::size_t>(count);
    return "";
}

std::string Win32CombineFileApi::SetMode(int, unsigned) {
    return "";  // Windows has no execute bit to keep
}

std::string Win32CombineFileApi::Close(int descriptor) {
    return _close(descriptor) != 0 ? std::strerror(errno) : "";
}

std::string Win32CombineFileApi::Replace(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return "";
    // Windows 95/98 export MoveFileExA but do not implement it: there the old output goes
    // first, then the finished file takes its name.
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return WindowsError();
    DeleteFileA(to.c_str());
    return MoveFileA(from.c_str(), to.c_str()) ? "" : WindowsError();
}

void Win32CombineFileApi::Remove(const std::string& path) {
    std::remove(path.c_str());
}

bool Win32CombineFileApi::SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    if (!FileIdentity(a, first) || !FileIdentity(b, second)) return false;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

CombineFileApi& SystemCombineFileApi() {
    static Win32CombineFileApi files;
    return files;
}
