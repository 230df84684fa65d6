#pragma once

#include <stddef.h>
#include <stdint.h>

namespace emulator {

// A line of text built into a fixed buffer without any library call, for freestanding code (the
// kernel driver has no C runtime). What does not fit is dropped; the text stays NUL-terminated.
class TextLine {
public:
    TextLine(char* buffer, size_t room) : buffer_(buffer), room_(room) {
        if (room_ != 0) buffer_[0] = '\0';
    }

    TextLine& Text(const char* text) {
        while (text != nullptr && *text != '\0') Put(*text++);
        return *this;
    }
    // Exactly COUNT characters of TEXT, up to its first NUL.
    TextLine& Text(const char* text, size_t count) {
        for (size_t i = 0; i < count && text[i] != '\0'; ++i) Put(text[i]);
        return *this;
    }
    TextLine& Decimal(uint32_t value) {
        char digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) Put(digits[--n]);
        return *this;
    }
    // "0x" and upper-case hex digits, at least MINDIGITS of them.
    TextLine& Hex(uint64_t value, int minDigits = 1) {
        static const char digitsOf[] = "0123456789ABCDEF";
        char digits[16];
        int n = 0;
        do {
            digits[n++] = digitsOf[value & 0xF];
            value >>= 4;
        } while (value != 0);
        while (n < minDigits && n < 16) digits[n++] = '0';
        Put('0').Put('x');
        while (n > 0) Put(digits[--n]);
        return *this;
    }
    TextLine& Put(char c) {
        if (length_ + 1 < room_) {
            buffer_[length_++] = c;
            buffer_[length_] = '\0';
        }
        return *this;
    }

    const char* Data() const { return buffer_; }
    size_t Length() const { return length_; }

private:
    char* buffer_;
    size_t room_;
    size_t length_ = 0;
};

}  // namespace emulator
