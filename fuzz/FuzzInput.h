#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Takes a fuzz input apart front to back. Past the end every read yields zeros, so that a short
// input is still a whole (if dull) case rather than no case at all.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool Bit() { return (Byte() & 1) != 0; }
    uint16_t Word() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    // A count below LIMIT.
    unsigned Below(unsigned limit) { return limit == 0 ? 0 : Byte() % limit; }

    // A length byte, then that many bytes (fewer at the end of the input).
    std::string Text(size_t limit = 255) {
        size_t length = Byte();
        if (length > limit) length = limit;
        std::string text;
        while (length-- > 0 && at_ < size_) text.push_back(static_cast<char>(data_[at_++]));
        return text;
    }
    std::vector<uint8_t> Bytes(size_t limit = 255) {
        const std::string text = Text(limit);
        return std::vector<uint8_t>(text.begin(), text.end());
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A broken invariant: say which and stop, so that libFuzzer keeps the input and the replay fails.
#define FUZZ_CHECK(condition)                                                                          \
    do {                                                                                               \
        if (!(condition)) {                                                                            \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                              \
        }                                                                                              \
    } while (0)
