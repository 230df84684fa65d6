#include "emulator/drive/WholeFile.h"

#include <stdio.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace emulator {

namespace {

#ifdef _WIN32
bool SyncToDisk(FILE* f) {
    return ::FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != 0;
}
void KeepMode(const std::string&, FILE*) {}
#else
bool SyncToDisk(FILE* f) { return fsync(fileno(f)) == 0; }

// The replacement keeps the permissions the file had (a flash file made read-only for others
// stays so).
void KeepMode(const std::string& path, FILE* to) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) fchmod(fileno(to), info.st_mode & 07777);
}

// Makes the rename itself last through a power cut; the content is whole either way, so a
// failure here fails nothing.
void SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
#endif

}  // namespace

bool WholeFile::Write(const std::string& path, const uint8_t* data, size_t size) {
    const std::string temporary = path + TemporarySuffix;
    return WriteTemporary(temporary, path, data, size) && RenameOver(temporary, path);
}

bool WholeFile::WriteTemporary(const std::string& temporary, const std::string& path, const uint8_t* data,
                               size_t size) {
    // Binary, so that the image reads the same byte for byte from a Windows and a Linux build.
    FILE* f = fopen(temporary.c_str(), "wb");
    if (f == nullptr) return false;  // never remove what stands there: it is not ours
    KeepMode(path, f);
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    ok = fflush(f) == 0 && ok;
    ok = ok && SyncToDisk(f);
    ok = fclose(f) == 0 && ok;
    if (!ok) remove(temporary.c_str());
    return ok;
}

bool WholeFile::RenameOver(const std::string& temporary, const std::string& path) {
#ifdef _WIN32
    // rename() of the C runtime refuses an existing target; this replaces it in one step.
    const bool ok = ::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    const bool ok = rename(temporary.c_str(), path.c_str()) == 0;
    if (ok) SyncDirectoryOf(path);
#endif
    if (!ok) remove(temporary.c_str());
    return ok;
}

}  // namespace emulator
