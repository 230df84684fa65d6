#include "transport/DeviceList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

DeviceRecord Numbered(uint8_t n) {
    DeviceRecord record;
    ClearDeviceRecord(record);
    record.TargetId = n;
    std::snprintf(record.DosDeviceName, sizeof record.DosDeviceName, "%c:", 'C' + n % 24);
    return record;
}

TEST(DeviceList, KeepsCopiesInOrderAtStableAddresses) {
    DeviceList list;
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.At(0), nullptr);

    DeviceRecord working = Numbered(0);
    list.Append(working);
    const DeviceRecord* first = list.At(0);
    ASSERT_NE(first, nullptr);

    // The scan reuses its working record; the list must hold a copy, not a view of it.
    working.TargetId = 99;
    EXPECT_EQ(first->TargetId, 0);

    for (uint8_t n = 1; n < 200; ++n) list.Append(Numbered(n));
    ASSERT_EQ(list.Count(), 200u);
    // The dialog keeps a pointer to the selected record while more records may have been added.
    EXPECT_EQ(list.At(0), first);
    for (uint8_t n = 0; n < 200; ++n) {
        ASSERT_NE(list.At(n), nullptr);
        EXPECT_EQ(list.At(n)->TargetId, n);
        const DeviceRecord expected = Numbered(n);
        EXPECT_EQ(std::memcmp(list.At(n), &expected, sizeof expected), 0);
    }
    EXPECT_EQ(list.At(200), nullptr);
    EXPECT_EQ(list.At(static_cast<size_t>(-1)), nullptr);
}

}  // namespace
