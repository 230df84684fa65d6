#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CombineFileApi.h"

// The file operations combine needs, on any system behind CombineFileApi.
class FileAccess {
public:
    struct Read {
        enum class Status { Ok, TooLarge, Failed } status;
        std::uint64_t size;  // the file's, also when too large
        unsigned mode;       // permission bits, for a copy to keep
        std::string error;   // when Failed
    };

    // More temporary names are not tried: so many leftovers point at something else.
    static constexpr int TemporaryAttempts = 100;
    // Bytes handed to one write call.
    static constexpr std::size_t WriteChunk = 1u << 20;

    explicit FileAccess(CombineFileApi& files) : files_(files) {}

    // Reads a whole regular file of at most maxSize bytes into bytes.
    Read ReadWhole(const std::string& path, std::uint64_t maxSize, std::vector<unsigned char>& bytes) const;

    // Writes bytes to path through a temporary file beside it, so that path is either replaced
    // whole or left as it was, and no temporary file stays behind. mode applies where files have
    // permission bits. Returns why it could not, or "".
    std::string WriteReplacing(const std::string& path, const std::vector<unsigned char>& bytes, unsigned mode) const;

    // Whether both names exist and are one file, however they are spelt.
    bool SameFile(const std::string& a, const std::string& b) const { return files_.SameFile(a, b); }

private:
    CombineFileApi& files_;
};
