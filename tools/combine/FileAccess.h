#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file operations combine needs, on POSIX and Windows alike.
class FileAccess {
public:
    struct Read {
        enum class Status { Ok, TooLarge, Failed } status;
        std::uint64_t size;  // the file's, also when too large
        unsigned mode;       // permission bits, for a copy to keep
        std::string error;   // when Failed
    };

    // Reads a whole regular file of at most maxSize bytes into bytes.
    static Read ReadWhole(const std::string& path, std::uint64_t maxSize, std::vector<unsigned char>& bytes);

    // Writes bytes to path through a temporary file beside it, so that path is either replaced
    // whole or left as it was, and no temporary file stays behind. mode applies where files have
    // permission bits. Returns why it could not, or "".
    static std::string WriteReplacing(const std::string& path, const std::vector<unsigned char>& bytes, unsigned mode);

    // Whether both names exist and are one file, however they are spelt.
    static bool SameFile(const std::string& a, const std::string& b);
};
