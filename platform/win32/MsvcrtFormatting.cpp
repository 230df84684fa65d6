// Formatted text through the system's C runtime (msvcrt.dll) instead of the C99 engine that
// mingw-w64 links into every C++ program: the C++ runtime's headers always select that engine,
// and it brings its own floating-point conversions (some 45 KB) to a program that formats
// integers and strings. msvcrt formats the conversions used here (%d %u %x %X with width and
// zero fill, %c, %s, %.*s) and reads %X as C99 does; what differs is the answer of a text that
// does not fit, mended below. Only calls that Windows 98's msvcrt.dll has are used: _vsnprintf,
// vfprintf, and sscanf through mingw-w64's own argument forwarder (that msvcrt has no vsscanf).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

extern "C" int __cdecl __ms_vsscanf(const char* text, const char* format, va_list arguments);

namespace {

// Longer texts are answered as an error: the program's longest is a status line.
constexpr std::size_t MeasureLimit = 1u << 20;

// msvcrt's answer when the text fits, or -1.
int FormatFitting(char* buffer, std::size_t size, const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    const int written = _vsnprintf(buffer, size, format, copy);
    va_end(copy);
    return written >= 0 && static_cast<std::size_t>(written) < size ? written : -1;
}

}  // namespace

// C99: the text is cut to size - 1 characters and always ended, and the answer is the length of
// the whole text, so that a caller can tell a cut text (answer >= size). msvcrt's _vsnprintf
// leaves a text that fills the buffer unended and answers -1 for one that does not fit.
extern "C" int __cdecl __mingw_vsnprintf(char* buffer, std::size_t size, const char* format, va_list arguments) {
    if (size > 0) {
        const int written = FormatFitting(buffer, size, format, arguments);
        if (written >= 0) return written;
        buffer[size - 1] = '\0';
    }
    // _vscprintf, which would measure the text, came only after Windows 98's msvcrt.dll.
    for (std::size_t room = 256; room <= MeasureLimit; room *= 2) {
        if (room <= size) continue;
        char* scratch = static_cast<char*>(std::malloc(room));
        if (scratch == nullptr) return -1;
        const int length = FormatFitting(scratch, room, format, arguments);
        std::free(scratch);
        if (length >= 0) return length;
    }
    return -1;
}

extern "C" int __cdecl __mingw_vfprintf(std::FILE* file, const char* format, va_list arguments) {
    return __ms_vfprintf(file, format, arguments);
}

extern "C" int __cdecl __mingw_vsscanf(const char* text, const char* format, va_list arguments) {
    return __ms_vsscanf(text, format, arguments);
}
