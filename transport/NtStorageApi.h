#pragma once

#include <cstdint>

// The NT family's storage stack as the pass-through transport reaches it: the registry's SCSI
// device map, DOS device names, and device handles with their I/O controls. One operation per
// platform call, with that call's arguments, buffer rules and failure values, so that the
// transport reads step for step like the system it runs on and the real implementation only
// forwards. Nothing here owns a key or a handle: whoever opens one closes it.
class NtStorageApi {
public:
    using Key = intptr_t;     // HKEY
    using Handle = intptr_t;  // HANDLE

    // HKEY_LOCAL_MACHINE: the 32-bit value 0x80000002, sign-extended as the platform does.
    static constexpr Key LocalMachine = static_cast<Key>(INT32_C(-2147483646));
    static constexpr Handle InvalidHandle = -1;  // INVALID_HANDLE_VALUE

    // Error codes (LSTATUS of the registry calls).
    static constexpr int32_t ErrorSuccess = 0;
    static constexpr int32_t ErrorInvalidFunction = 1;
    static constexpr int32_t ErrorFileNotFound = 2;
    static constexpr int32_t ErrorAccessDenied = 5;
    static constexpr int32_t ErrorInvalidHandle = 6;
    static constexpr int32_t ErrorSharingViolation = 32;
    static constexpr int32_t ErrorInvalidParameter = 87;
    static constexpr int32_t ErrorInsufficientBuffer = 122;
    static constexpr int32_t ErrorMoreData = 234;

    static constexpr uint32_t KeyRead = 0x20019;
    static constexpr uint32_t RegSz = 1;
    static constexpr uint32_t GenericRead = 0x80000000u;
    static constexpr uint32_t GenericWrite = 0x40000000u;
    static constexpr uint32_t FileShareRead = 0x1;
    static constexpr uint32_t FileShareWrite = 0x2;
    static constexpr uint32_t OpenExisting = 3;

    // RegOpenKeyExA. ErrorSuccess puts a new key into *key; any other code leaves it alone.
    virtual int32_t OpenKey(Key parent, const char* subKey, uint32_t options, uint32_t access, Key* key) = 0;
    // RegQueryInfoKeyA, asked for the number of subkeys only.
    virtual int32_t QueryKeyInfo(Key key, uint32_t* subKeys) = 0;
    // RegQueryValueExA. *length is the room on entry and the value's size on return; a room too
    // small gives ErrorMoreData. The bytes are the value's as stored: a string may lack its NUL.
    virtual int32_t QueryValue(Key key, const char* name, uint32_t* type, uint8_t* data, uint32_t* length) = 0;
    // RegCloseKey.
    virtual int32_t CloseKey(Key key) = 0;
    // QueryDosDeviceA: the name's targets, each ending in NUL and the list in a second NUL. The
    // result is the number of characters stored; 0 is failure, a room too small included.
    virtual uint32_t QueryDosDeviceName(const char* name, char* targets, uint32_t room) = 0;
    // CreateFileA without security attributes or template. InvalidHandle on failure.
    virtual Handle CreateDeviceFile(const char* path, uint32_t access, uint32_t sharing, uint32_t disposition,
                                    uint32_t flagsAndAttributes) = 0;
    // DeviceIoControl without an overlapped structure: returns when the driver has completed the
    // request. Non-zero on success.
    virtual int DeviceControl(Handle device, uint32_t code, void* input, uint32_t inputLength, void* output,
                              uint32_t outputLength, uint32_t* returned) = 0;
    // CloseHandle. Non-zero on success.
    virtual int CloseDeviceHandle(Handle handle) = 0;

protected:
    ~NtStorageApi() = default;
};
