#pragma once

#include <cstdint>

#include "transport/NtStorageApi.h"

// One registry key opened through the seam, closed exactly once: by Close, or when the holder
// ends, whichever comes first. A key that failed to open is never closed.
class KeyHolder {
public:
    explicit KeyHolder(NtStorageApi& storage) : storage_(storage) {}
    ~KeyHolder() { Close(); }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;

    // RegOpenKeyExA below HKEY_LOCAL_MACHINE, no options, for reading; the seam's error code.
    int32_t OpenForReading(const char* path) {
        Close();
        NtStorageApi::Key key = 0;
        const int32_t status = storage_.OpenKey(NtStorageApi::LocalMachine, path, 0, NtStorageApi::KeyRead, &key);
        if (status == NtStorageApi::ErrorSuccess) {
            key_ = key;
            open_ = true;
        }
        return status;
    }
    NtStorageApi::Key Get() const { return key_; }
    void Close() {
        if (!open_) return;
        open_ = false;
        storage_.CloseKey(key_);
    }

private:
    NtStorageApi& storage_;
    NtStorageApi::Key key_ = 0;
    bool open_ = false;
};
