#pragma once

#include "transport/NtStorageApi.h"

// Closes the handle kept in SLOT exactly once, by Close or when the holder ends, and leaves
// InvalidHandle there. The slot stays where its owner keeps it (the transport's DeviceHandle), so
// that the commands sent meanwhile go through it.
class DeviceHandleHolder {
public:
    DeviceHandleHolder(NtStorageApi& storage, NtStorageApi::Handle& slot) : storage_(storage), slot_(slot) {}
    ~DeviceHandleHolder() { Close(); }
    DeviceHandleHolder(const DeviceHandleHolder&) = delete;
    DeviceHandleHolder& operator=(const DeviceHandleHolder&) = delete;

    void Close() {
        // A handle that never opened is not closed: INVALID_HANDLE_VALUE is also the process's own.
        if (slot_ == NtStorageApi::InvalidHandle) return;
        const NtStorageApi::Handle handle = slot_;
        slot_ = NtStorageApi::InvalidHandle;
        storage_.CloseDeviceHandle(handle);
    }

private:
    NtStorageApi& storage_;
    NtStorageApi::Handle& slot_;
};
