#include "SlotLocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(SlotLocator, CountsWholeOccurrences) {
    const auto locator = SlotLocator::Locator();
    struct Case {
        const char* name;
        std::vector<std::size_t> at;  // where copies of the locator go into 200 zero bytes
        std::size_t flipped;          // a byte then changed, or 0 for none
        std::size_t count;
        std::size_t offset;
    };
    const std::vector<Case> cases = {
        {"none", {}, 0, 0, 0},
        {"at the start", {0}, 0, 1, 0},
        {"at the very end", {168}, 0, 1, 168},
        {"twice", {10, 120}, 0, 2, 10},
        {"back to back", {40, 72}, 0, 2, 40},
        {"last byte wrong", {50}, 81, 0, 0},
        {"first byte wrong", {50}, 50, 0, 0},
        {"cut off by the end", {169}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> data(200 + SlotLocator::Size, 0);
        for (std::size_t at : c.at) std::copy(locator.begin(), locator.end(), data.begin() + at);
        data.resize(200);
        if (c.flipped != 0) data[c.flipped] ^= 0x80;
        const SlotLocator::Match match = SlotLocator::Find(data.data(), data.size());
        EXPECT_EQ(match.count, c.count) << c.name;
        if (c.count > 0) {
            EXPECT_EQ(match.offset, c.offset) << c.name;
        }
    }
}

}  // namespace
