#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace emulator {

// The key=value pairs of login and text PDUs, each ended by a NUL byte.
class TextKeys {
public:
    using Pairs = std::vector<std::pair<std::string, std::string>>;

    static constexpr size_t MaxKeyLength = 63;
    static constexpr size_t MaxValueLength = 8192;

    // False on a pair without '=', an empty or overlong key or an overlong value. A last pair
    // without its NUL is taken as if it had one (some initiators leave it out).
    static bool Parse(const std::vector<uint8_t>& data, Pairs& pairs);
    static void Append(std::vector<uint8_t>& out, const std::string& key, const std::string& value);
};

}  // namespace emulator
