#pragma once

#include <cstddef>
#include <cstdint>

// Tells whether a byte range of an ELF or PE program file lies in section data that the program
// loads from the file, so that bytes written there are what the program sees at run time.
class ExecutableImage {
public:
    enum class Coverage {
        FileBacked,     // one loaded section's file data holds the whole range
        NotFileBacked,  // no section does (zero-filled data, padding, or outside every section)
        UnknownFormat,  // neither a little-endian ELF nor a PE file
        Malformed,      // headers that point outside the file or cannot be read
    };

    static Coverage Check(const unsigned char* data, std::size_t size, std::uint64_t offset, std::uint64_t length);

private:
    static Coverage CheckElf(const unsigned char* data, std::size_t size, std::uint64_t offset, std::uint64_t length);
    static Coverage CheckPe(const unsigned char* data, std::size_t size, std::uint64_t offset, std::uint64_t length);
};
