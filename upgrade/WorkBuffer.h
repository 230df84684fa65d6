#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "upgrade/WorkBufferAllocator.h"

// A work buffer of one operation: obtained and zeroed on construction, released exactly once when
// the operation's scope ends, whichever way it ends. A buffer that was not had is never released.
class WorkBuffer {
public:
    WorkBuffer(WorkBufferAllocator& allocator, size_t size) : allocator_(allocator), bytes_(allocator.Obtain(size)) {
        if (bytes_ != nullptr) std::memset(bytes_, 0, size);
    }
    ~WorkBuffer() {
        if (bytes_ != nullptr) allocator_.Release(bytes_);
    }
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;

    bool Held() const { return bytes_ != nullptr; }
    uint8_t* Bytes() const { return bytes_; }

private:
    WorkBufferAllocator& allocator_;
    uint8_t* bytes_;
};
