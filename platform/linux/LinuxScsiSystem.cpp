#include "platform/linux/LinuxScsiSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/PosixDescriptor.h"
#include "transport/ScopedHandle.h"

namespace {

struct DirectoryStream {
    using Handle = DIR*;
    static constexpr Handle Invalid = nullptr;  // what a failed opendir gives
    void Close(Handle directory) const { ::closedir(directory); }
};

}  // namespace

int LinuxScsiSystem::ListDirectory(const char* path, std::vector<std::string>& names) {
    names.clear();
    const ScopedHandle<DirectoryStream> directory(::opendir(path));
    if (!directory.IsOpen()) return errno;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.Get());
        if (entry == nullptr) return errno;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
}

int LinuxScsiSystem::ReadAttribute(const char* path, char* text, size_t room, size_t* length) {
    *length = 0;
    const ScopedHandle<PosixDescriptor> fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen()) return errno;
    int error = 0;
    size_t done = 0;
    while (done < room) {
        const ssize_t n = ::read(fd.Get(), text + done, room - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    *length = done;
    return error;
}

int LinuxScsiSystem::Open(const char* path, int flags, int* fd) {
    for (;;) {
        const int opened = ::open(path, flags);
        if (opened >= 0) {
            *fd = opened;
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

int LinuxScsiSystem::Stat(const char* path, mode_t* type, dev_t* device) {
    struct stat info;
    if (::stat(path, &info) != 0) return errno;
    *type = info.st_mode & S_IFMT;
    *device = info.st_rdev;
    return 0;
}

int LinuxScsiSystem::SendScsi(int fd, sg_io_hdr_t* header) {
    // Not retried on EINTR: a command that the kernel may have sent is not sent twice.
    return ::ioctl(fd, SG_IO, header) == 0 ? 0 : errno;
}

int LinuxScsiSystem::Close(int fd) {
    // Not retried: on Linux the descriptor is gone even when close reports EINTR.
    return ::close(fd) == 0 ? 0 : errno;
}

bool LinuxScsiSystem::MaySendAnyCommand() {
    __user_cap_header_struct header;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    std::memset(&header, 0, sizeof header);
    std::memset(data, 0, sizeof data);
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    if (::syscall(SYS_capget, &header, data) != 0) return ::geteuid() == 0;
    return (data[CAP_SYS_RAWIO / 32].effective >> (CAP_SYS_RAWIO % 32)) & 1u;
}
