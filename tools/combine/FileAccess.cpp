#include "FileAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
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
#endif

}  // namespace

FileAccess::Read FileAccess::ReadWhole(const std::string& path, std::uint64_t maxSize,
                                       std::vector<unsigned char>& bytes) {
    Read read{Read::Status::Failed, 0, 0, ""};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        read.error = std::strerror(errno);
        return read;
    }
#ifdef _WIN32
    struct _stati64 status;
    const bool statted = _fstati64(_fileno(file), &status) == 0;
    const bool regular = statted && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat status;
    const bool statted = fstat(fileno(file), &status) == 0;
    const bool regular = statted && S_ISREG(status.st_mode);
#endif
    if (!statted) {
        read.error = std::strerror(errno);
    } else if (!regular) {
        read.error = "not a regular file";
    } else {
        read.size = static_cast<std::uint64_t>(status.st_size);
        read.mode = static_cast<unsigned>(status.st_mode) & 0777u;
        if (read.size > maxSize) {
            read.status = Read::Status::TooLarge;
        } else {
            bytes.resize(static_cast<std::size_t>(read.size));
            const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
            // A file that grows or shrinks while being read is not one consistent program.
            if (got != bytes.size() || std::fgetc(file) != EOF)
                read.error = std::ferror(file) ? std::strerror(errno) : "file changed while reading";
            else
                read.status = Read::Status::Ok;
        }
    }
    std::fclose(file);
    return read;
}

std::string FileAccess::WriteReplacing(const std::string& path, const std::vector<unsigned char>& bytes,
                                       unsigned mode) {
#ifdef _WIN32
    const int pid = _getpid();
    (void)mode;  // Windows has no execute bit to keep
#else
    const int pid = static_cast<int>(getpid());
#endif
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".combine-%d-%d.tmp", pid, attempt);
        temporary = path + suffix;
#ifdef _WIN32
        fd = _open(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
#endif
        if (fd < 0 && errno != EEXIST) return std::strerror(errno);
    }
    if (fd < 0) return "no free temporary file name";

    std::string error;
    for (std::size_t done = 0; done < bytes.size() && error.empty();) {
        const std::size_t chunk = bytes.size() - done < (1u << 20) ? bytes.size() - done : (1u << 20);
#ifdef _WIN32
        const int written = _write(fd, bytes.data() + done, static_cast<unsigned>(chunk));
#else
        const ssize_t written = write(fd, bytes.data() + done, chunk);
#endif
        if (written <= 0)
            error = written < 0 ? std::strerror(errno) : "nothing written";
        else
            done += static_cast<std::size_t>(written);
    }
#ifdef _WIN32
    if (_close(fd) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty() && !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        // Windows 95/98 export MoveFileExA but do not implement it: there the old output goes
        // first, then the finished file takes its name.
        if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
            DeleteFileA(path.c_str());
            if (!MoveFileA(temporary.c_str(), path.c_str())) error = WindowsError();
        } else {
            error = WindowsError();
        }
    }
#else
    if (error.empty() && fchmod(fd, mode) != 0) error = std::strerror(errno);
    if (close(fd) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) error = std::strerror(errno);
#endif
    if (!error.empty()) std::remove(temporary.c_str());
    return error;
}

// Not std::filesystem::equivalent: on Windows it pulls in calls that Windows 98 lacks
// (CreateHardLinkW and friends), and combine.exe is to run there too.
#ifdef _WIN32
namespace {

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return ok != FALSE;
}

}  // namespace

bool FileAccess::SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    if (!FileIdentity(a, first) || !FileIdentity(b, second)) return false;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}
#else
bool FileAccess::SameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
#endif
