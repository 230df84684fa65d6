#include "FileAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

FileAccess::Read FileAccess::ReadWhole(const std::string& path, std::uint64_t maxSize,
                                       std::vector<unsigned char>& bytes) const {
    Read read{Read::Status::Failed, 0, 0, ""};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        read.error = std::strerror(errno);
        return read;
    }
    CombineFileApi::Facts facts{false, 0, 0};
    const std::string error = files_.Describe(file, facts);
    if (!error.empty()) {
        read.error = error;
    } else if (!facts.regular) {
        read.error = "not a regular file";
    } else {
        read.size = facts.size;
        read.mode = facts.mode;
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
                                       unsigned mode) const {
    const int pid = files_.ProcessId();
    std::string temporary;
    int descriptor = -1;
    bool created = false;
    for (int attempt = 0; attempt < TemporaryAttempts && !created; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".combine-%d-%d.tmp", pid, attempt);
        temporary = path + suffix;
        std::string error;
        switch (files_.CreateNew(temporary, descriptor, error)) {
        case CombineFileApi::Created::Ok: created = true; break;
        case CombineFileApi::Created::NameTaken: break;
        case CombineFileApi::Created::Failed: return error;
        }
    }
    if (!created) return "no free temporary file name";

    std::string error;
    for (std::size_t done = 0; done < bytes.size() && error.empty();) {
        const std::size_t chunk = bytes.size() - done < WriteChunk ? bytes.size() - done : WriteChunk;
        std::size_t written = 0;
        error = files_.Write(descriptor, bytes.data() + done, chunk, written);
        if (error.empty() && written == 0) error = "nothing written";
        done += written;
    }
    if (error.empty()) error = files_.SetMode(descriptor, mode);
    const std::string closed = files_.Close(descriptor);
    if (error.empty()) error = closed;
    if (error.empty()) error = files_.Replace(temporary, path);
    if (!error.empty()) files_.Remove(temporary);
    return error;
}
