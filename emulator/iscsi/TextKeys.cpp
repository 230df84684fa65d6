#include "emulator/iscsi/TextKeys.h"

namespace emulator {

bool TextKeys::Parse(const std::vector<uint8_t>& data, Pairs& pairs) {
    pairs.clear();
    size_t start = 0;
    while (start < data.size()) {
        size_t end = start;
        while (end < data.size() && data[end] != 0) ++end;
        // Padding NULs between pairs carry nothing.
        if (end != start) {
            const std::string pair(data.begin() + static_cast<std::ptrdiff_t>(start),
                                   data.begin() + static_cast<std::ptrdiff_t>(end));
            const size_t eq = pair.find('=');
            if (eq == std::string::npos || eq == 0 || eq > MaxKeyLength || pair.size() - eq - 1 > MaxValueLength) {
                return false;
            }
            pairs.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
        }
        start = end + 1;
    }
    return true;
}

void TextKeys::Append(std::vector<uint8_t>& out, const std::string& key, const std::string& value) {
    out.insert(out.end(), key.begin(), key.end());
    out.push_back('=');
    out.insert(out.end(), value.begin(), value.end());
    out.push_back(0);
}

}  // namespace emulator
