#pragma once

#include <unistd.h>

// How a ScopedHandle closes a file descriptor that this process opened itself.
struct PosixDescriptor {
    using Handle = int;
    static constexpr Handle Invalid = -1;  // what a failed open gives
    // Not retried: on Linux the descriptor is gone even when close reports EINTR.
    void Close(Handle fd) const { ::close(fd); }
};
