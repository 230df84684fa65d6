#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "upgrade/WorkBufferAllocator.h"

// Heap work buffers with the bytes held now and the most ever held at once.
class PeakBufferAllocator final : public WorkBufferAllocator {
public:
    uint8_t* Obtain(size_t size) override;
    void Release(uint8_t* buffer) override;

    size_t HeldBytes() const { return held_; }
    size_t PeakBytes() const { return peak_; }
    void ResetPeak() { peak_ = held_; }

    ~PeakBufferAllocator();

private:
    std::map<uint8_t*, size_t> sizes_;
    size_t held_ = 0;
    size_t peak_ = 0;
};
