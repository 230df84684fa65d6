#pragma once

#include <cstddef>
#include <deque>

#include "transport/DeviceRecord.h"

// The drives that the one scan accepted, in discovery order; position i is drop-down entry i.
// Records keep their address while the list lives: the dialog holds a pointer to the selected
// one while an operation runs, so the storage must never move them (a deque only appends).
class DeviceList {
public:
    void Append(const DeviceRecord& record);
    size_t Count() const;
    // The record at a zero-based position, or null when no record stands there.
    const DeviceRecord* At(size_t position) const;

private:
    std::deque<DeviceRecord> records_;
};
