#pragma once

#include "upgrade/WorkBufferAllocator.h"

// Work buffers that start on a page: the kernel can then map a chunk straight from the caller's
// memory instead of copying it through a buffer of its own.
class PageAlignedBufferAllocator final : public WorkBufferAllocator {
public:
    static constexpr size_t Alignment = 4096;

    uint8_t* Obtain(size_t size) override;
    void Release(uint8_t* buffer) override;
};
