#include "platform/linux/PosixFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/linux/PosixDescriptor.h"
#include "transport/ScopedHandle.h"

int PosixFileSystem::Examine(const char* path, uint64_t* length, bool* regular) {
    struct stat info;
    if (::stat(path, &info) != 0) return errno;
    *length = static_cast<uint64_t>(info.st_size);
    *regular = S_ISREG(info.st_mode);
    return 0;
}

int PosixFileSystem::CreateTemporary(const std::string& beside, std::string& path, int* fd) {
    std::vector<char> name(beside.begin(), beside.end());
    const char suffix[] = ".partial-XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    const int opened = ::mkostemp(name.data(), O_CLOEXEC);
    if (opened < 0) return errno;
    path = name.data();
    *fd = opened;
    return 0;
}

int PosixFileSystem::WriteAll(int fd, const uint8_t* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

int PosixFileSystem::Sync(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

int PosixFileSystem::Close(int fd) { return ::close(fd) == 0 ? 0 : errno; }

int PosixFileSystem::Rename(const char* from, const char* to) { return ::rename(from, to) == 0 ? 0 : errno; }

int PosixFileSystem::Remove(const char* path) { return ::unlink(path) == 0 ? 0 : errno; }

int PosixFileSystem::SyncFolderOf(const char* path) {
    std::string folder = path;
    const size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    const ScopedHandle<PosixDescriptor> fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsOpen()) return errno;
    return ::fsync(fd.Get()) == 0 ? 0 : errno;
}
