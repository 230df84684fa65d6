#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace emulator {

// A file that is only ever replaced whole: the new content goes to PATH.tmp in the same directory,
// is flushed to the disk, and is then renamed over PATH, so that whatever happens meanwhile (the
// process killed, the disk full) PATH holds either the old content whole or the new.
// Host side (POSIX, or the C runtime and kernel32 on Windows).
class WholeFile {
public:
    static constexpr const char* TemporarySuffix = ".tmp";

    // SIZE bytes of DATA become PATH's content. False when they could not be written whole; PATH
    // is then as it was and no temporary file of ours is left.
    static bool Write(const std::string& path, const uint8_t* data, size_t size);

private:
    static bool WriteTemporary(const std::string& temporary, const std::string& path, const uint8_t* data,
                               size_t size);
    static bool RenameOver(const std::string& temporary, const std::string& path);
};

}  // namespace emulator
