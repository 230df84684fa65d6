#include "platform/host/PosixCombineFileApi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string PosixCombineFileApi::Describe(std::FILE* file, Facts& facts) {
    struct stat status;
    if (fstat(fileno(file), &status) != 0) return std::strerror(errno);
    facts.regular = S_ISREG(status.st_mode);
    facts.size = static_cast<std::uint64_t>(status.st_size);
    facts.mode = static_cast<unsigned>(status.st_mode) & 0777u;
    return "";
}

int PosixCombineFileApi::ProcessId() {
    return static_cast<int>(getpid());
}

CombineFileApi::Created PosixCombineFileApi::CreateNew(const std::string& path, int& descriptor, std::string& error) {
    // Owner-only until the copy is complete; SetMode gives it the program's bits.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) {
        descriptor = fd;
        return Created::Ok;
    }
    if (errno == EEXIST) return Created::NameTaken;
    error = std::strerror(errno);
    return Created::Failed;
}

std::string PosixCombineFileApi::Write(int descriptor, const unsigned char* bytes, std::size_t length,
                                       std::size_t& written) {
    const ssize_t count = write(descriptor, bytes, length);
    if (count < 0) return std::strerror(errno);
    written = static_cast<std::size_t>(count);
    return "";
}

std::string PosixCombineFileApi::SetMode(int descriptor, unsigned mode) {
    return fchmod(descriptor, static_cast<mode_t>(mode)) != 0 ? std::strerror(errno) : "";
}

std::string PosixCombineFileApi::Close(int descriptor) {
    return close(descriptor) != 0 ? std::strerror(errno) : "";
}

std::string PosixCombineFileApi::Replace(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) != 0 ? std::strerror(errno) : "";
}

void PosixCombineFileApi::Remove(const std::string& path) {
    std::remove(path.c_str());
}

bool PosixCombineFileApi::SameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

CombineFileApi& SystemCombineFileApi() {
    static PosixCombineFileApi files;
    return files;
}
