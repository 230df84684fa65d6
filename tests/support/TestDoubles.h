#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "upgrade/SleepApi.h"
#include "upgrade/WorkBufferAllocator.h"

// Records the pauses instead of waiting.
class RecordingSleep final : public SleepApi {
public:
    std::vector<unsigned> Pauses;
    void Pause(unsigned milliseconds) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        Pauses.push_back(milliseconds);
    }

private:
    std::mutex mutex_;   // several drives' threads pause at once
};

// Heap buffers, counted: a test can tell that every buffer obtained was released exactly once,
// and make the n-th request fail.
class CountingBufferAllocator final : public WorkBufferAllocator {
public:
    int FailRequestNumber = 0;   // 1-based; 0: never
    int Requests = 0;
    int Obtained = 0;
    int Released = 0;
    int BadReleases = 0;         // a release of something not held (or released twice)
    std::vector<size_t> Sizes;

    uint8_t* Obtain(size_t size) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++Requests;
        Sizes.push_back(size);
        if (Requests == FailRequestNumber) return nullptr;
        uint8_t* buffer = new uint8_t[size];
        held_[buffer] = size;
        ++Obtained;
        return buffer;
    }

    void Release(uint8_t* buffer) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        auto it = held_.find(buffer);
        if (it == held_.end()) {
            ++BadReleases;
            return;
        }
        held_.erase(it);
        delete[] buffer;
        ++Released;
    }

    size_t Held() const { return held_.size(); }

    ~CountingBufferAllocator() {
        for (auto& entry : held_) delete[] entry.first;
    }

private:
    std::mutex mutex_;   // several drives' threads obtain and release at once
    std::map<uint8_t*, size_t> held_;
};
