#include "upgrade/WorkBufferAllocator.h"

#include <new>

uint8_t* HeapWorkBufferAllocator::Obtain(size_t size) {
    return new (std::nothrow) uint8_t[size];
}

void HeapWorkBufferAllocator::Release(uint8_t* buffer) {
    delete[] buffer;
}
