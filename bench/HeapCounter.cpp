#include "bench/HeapCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Each block carries its size in front so that delete can subtract it; the header keeps the
// alignment operator new promises.
constexpr size_t Header = alignof(std::max_align_t);

std::atomic<size_t> live{0};
std::atomic<size_t> peak{0};
std::atomic<size_t> allocations{0};

void* Allocate(size_t size) {
    void* block = std::malloc(size + Header);
    if (block == nullptr) return nullptr;
    *static_cast<size_t*>(block) = size;
    const size_t now = live.fetch_add(size) + size;
    size_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
    allocations.fetch_add(1);
    return static_cast<char*>(block) + Header;
}

void Free(void* pointer) {
    if (pointer == nullptr) return;
    void* block = static_cast<char*>(pointer) - Header;
    live.fetch_sub(*static_cast<size_t*>(block));
    std::free(block);
}

}  // namespace

size_t HeapCounter::LiveBytes() { return live.load(); }
size_t HeapCounter::PeakBytes() { return peak.load(); }
size_t HeapCounter::Allocations() { return allocations.load(); }
void HeapCounter::ResetPeak() { peak.store(live.load()); }

void* operator new(size_t size) {
    void* p = Allocate(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, size_t) noexcept { Free(p); }
void operator delete[](void* p, size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
