#pragma once

#include "transport/NtStorageApi.h"

// The NT storage stack through the Win32 calls themselves, one call per operation and nothing
// added: keys and handles belong to the caller, who closes them through the same seam.
class Win32NtStorageApi final : public NtStorageApi {
public:
    int32_t OpenKey(Key parent, const char* subKey, uint32_t options, uint32_t access, Key* key) override;
    int32_t QueryKeyInfo(Key key, uint32_t* subKeys) override;
    int32_t QueryValue(Key key, const char* name, uint32_t* type, uint8_t* data, uint32_t* length) override;
    int32_t CloseKey(Key key) override;
    uint32_t QueryDosDeviceName(const char* name, char* targets, uint32_t room) override;
    Handle CreateDeviceFile(const char* path, uint32_t access, uint32_t sharing, uint32_t disposition,
                            uint32_t flagsAndAttributes) override;
    int DeviceControl(Handle device, uint32_t code, void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, uint32_t* returned) override;
    int CloseDeviceHandle(Handle handle) override;
};
