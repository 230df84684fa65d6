#include "emulator/drive/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace emulator {

namespace {

#ifdef _WIN32
// Binary, so that the lines end in LF as they do from a Linux build.
int OpenEmptied(const char* path) {
    return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const char* text, size_t length) {
    return _write(fd, text, static_cast<unsigned>(length));
}
void CloseFile(int fd) { _close(fd); }
#else
int OpenEmptied(const char* path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }
long WriteSome(int fd, const char* text, size_t length) { return static_cast<long>(write(fd, text, length)); }
void CloseFile(int fd) { close(fd); }
#endif

}  // namespace

LogFile::~LogFile() { Close(); }

bool LogFile::Open(const std::string& path) {
    Close();
    fd_ = OpenEmptied(path.c_str());
    return fd_ >= 0;
}

void LogFile::Close() {
    if (fd_ >= 0) CloseFile(fd_);
    fd_ = -1;
}

bool LogFile::Add(const char* text, size_t length) {
    if (fd_ < 0) return false;
    while (length != 0) {
        const long written = WriteSome(fd_, text, length);
        if (written <= 0) return false;  // a full disk, or a file that cannot grow
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace emulator
