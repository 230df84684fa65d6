#pragma once

#include <cstddef>
#include <cstdint>

// Where the operations obtain their work buffers. Obtaining may fail (the operation then reports
// it); every obtained buffer is released exactly once.
class WorkBufferAllocator {
public:
    // A buffer of SIZE bytes, or null when none could be had.
    virtual uint8_t* Obtain(size_t size) = 0;
    virtual void Release(uint8_t* buffer) = 0;

protected:
    ~WorkBufferAllocator() = default;
};

// The process heap.
class HeapWorkBufferAllocator final : public WorkBufferAllocator {
public:
    uint8_t* Obtain(size_t size) override;
    void Release(uint8_t* buffer) override;
};
