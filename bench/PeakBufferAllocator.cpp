#include "bench/PeakBufferAllocator.h"

#include <new>

uint8_t* PeakBufferAllocator::Obtain(size_t size) {
    uint8_t* buffer = new (std::nothrow) uint8_t[size];
    if (buffer == nullptr) return nullptr;
    sizes_[buffer] = size;
    held_ += size;
    if (held_ > peak_) peak_ = held_;
    return buffer;
}

void PeakBufferAllocator::Release(uint8_t* buffer) {
    auto it = sizes_.find(buffer);
    if (it == sizes_.end()) return;
    held_ -= it->second;
    sizes_.erase(it);
    delete[] buffer;
}

PeakBufferAllocator::~PeakBufferAllocator() {
    for (auto& entry : sizes_) delete[] entry.first;
}
