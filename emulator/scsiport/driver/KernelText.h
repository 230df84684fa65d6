#pragma once

#include <ntddk.h>

#include <stdint.h>

// A UTF-16 name for the kernel, built in place (the driver has no C runtime): object names,
// registry paths, symbolic links.
class WideName {
public:
    static constexpr USHORT Room = 260;

    WideName() { text_[0] = 0; }
    explicit WideName(const char* ascii) : WideName() { Append(ascii); }

    WideName& Append(const char* ascii) {
        while (ascii != nullptr && *ascii != '\0') Put(static_cast<unsigned char>(*ascii++));
        return *this;
    }
    WideName& Append(const uint16_t* wide) {
        while (wide != nullptr && *wide != 0) Put(*wide++);
        return *this;
    }
    WideName& Decimal(uint32_t value) {
        char digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0) Put(static_cast<uint16_t>(digits[--n]));
        return *this;
    }
    WideName& Put(uint16_t c) {
        if (length_ + 1 < Room) {
            text_[length_++] = static_cast<WCHAR>(c);
            text_[length_] = 0;
        } else {
            overflow_ = true;
        }
        return *this;
    }

    // False when the name was cut: a cut name must never be used.
    bool Whole() const { return !overflow_; }
    USHORT Length() const { return length_; }
    const WCHAR* Data() const { return text_; }
    // A view for the kernel's calls; valid while this name lives and is not changed.
    UNICODE_STRING View() const {
        UNICODE_STRING view;
        view.Buffer = const_cast<WCHAR*>(text_);
        view.Length = static_cast<USHORT>(length_ * sizeof(WCHAR));
        view.MaximumLength = static_cast<USHORT>(Room * sizeof(WCHAR));
        return view;
    }

private:
    WCHAR text_[Room];
    USHORT length_ = 0;
    bool overflow_ = false;
};
