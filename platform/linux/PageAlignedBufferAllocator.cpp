#include "platform/linux/PageAlignedBufferAllocator.h"

#include <cstdlib>

uint8_t* PageAlignedBufferAllocator::Obtain(size_t size) {
    void* buffer = nullptr;
    if (::posix_memalign(&buffer, Alignment, size == 0 ? 1 : size) != 0) return nullptr;
    return static_cast<uint8_t*>(buffer);
}

void PageAlignedBufferAllocator::Release(uint8_t* buffer) {
    std::free(buffer);
}
