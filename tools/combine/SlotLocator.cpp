#include "SlotLocator.h"

#include <algorithm>
#include <functional>

namespace {

// The locator XOR-ed with KeyByte(i); every key byte is non-zero, so no byte of this table
// equals the locator's byte at the same place.
const unsigned char EncodedLocator[SlotLocator::Size] = {
    0x1A, 0x10, 0xE4, 0xDE, 0xA7, 0x8C, 0x78, 0x42, 0x17, 0x0D, 0x11, 0xEF, 0x86, 0x02, 0x60, 0xCC,
    0x97, 0xC5, 0xEC, 0xD8, 0xCC, 0xB7, 0x76, 0xA5, 0xB2, 0x9B, 0xE3, 0x71, 0x34, 0x05, 0x88, 0xB8};

unsigned char KeyByte(std::size_t i) {
    return static_cast<unsigned char>(0x5C + 29 * i);
}

}  // namespace

std::array<unsigned char, SlotLocator::Size> SlotLocator::Locator() {
    const unsigned char* encoded = EncodedLocator;
    // Left to itself the optimiser may decode the table at build time and store the plain
    // locator in this program's file, where combine would then find a slot.
    asm("" : "+r"(encoded));
    std::array<unsigned char, Size> locator{};
    for (std::size_t i = 0; i < Size; ++i) locator[i] = static_cast<unsigned char>(encoded[i] ^ KeyByte(i));
    return locator;
}

SlotLocator::Match SlotLocator::Find(const unsigned char* data, std::size_t size) {
    const std::array<unsigned char, Size> locator = Locator();
    const std::boyer_moore_horspool_searcher searcher(locator.begin(), locator.end());
    Match match{0, 0};
    const unsigned char* end = data + size;
    for (const unsigned char* from = data; from != end;) {
        const unsigned char* found = std::search(from, end, searcher);
        if (found == end) break;
        if (match.count == 0) match.offset = static_cast<std::size_t>(found - data);
        ++match.count;
        from = found + 1;
    }
    return match;
}
