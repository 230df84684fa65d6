#include "platform/host/HostFileApi.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

FileApi::Handle HostFileApi::OpenForWriting(const char* path) {
    if (path == nullptr || *path == '\0') return InvalidHandle;
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return InvalidHandle;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return InvalidHandle;
    }
    return fd;
}

int HostFileApi::GetLength(Handle file, uint64_t* length) {
    struct stat info;
    if (::fstat(static_cast<int>(file), &info) != 0) return 0;
    *length = static_cast<uint64_t>(info.st_size);
    return 1;
}

int HostFileApi::Truncate(Handle file) {
    return ::ftruncate(static_cast<int>(file), 0) == 0 ? 1 : 0;
}

int HostFileApi::WriteFromStart(Handle file, const uint8_t* bytes, uint32_t length) {
    const int fd = static_cast<int>(file);
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, bytes + done, length - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        done += static_cast<uint32_t>(n);
    }
    return 1;
}

void HostFileApi::Close(Handle file) {
    ::close(static_cast<int>(file));
}

void HostSleepApi::Pause(unsigned milliseconds) {
    struct timespec wait = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}
