#include "platform/win32/Win32NtStorageApi.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>

#include "transport/ScsiPassThrough.h"

// The transport builds its requests from our own definitions; where the platform's driver headers
// exist, they must agree byte for byte.
#if __has_include(<ntddscsi.h>)
#include <ntddscsi.h>
#define FLASHUPGRADE_PLATFORM_SCSI 1
#elif __has_include(<ddk/ntddscsi.h>)
#include <ddk/ntddscsi.h>
#define FLASHUPGRADE_PLATFORM_SCSI 1
#endif

#ifdef FLASHUPGRADE_PLATFORM_SCSI
#define SAME_FIELD(Ours, Theirs, Field) \
    static_assert(offsetof(Ours, Field) == offsetof(Theirs, Field), #Theirs " layout: " #Field)
#define SAME_REQUEST(Ours, Theirs, Buffer)                                \
    static_assert(sizeof(Ours) == sizeof(Theirs), #Theirs " size");       \
    SAME_FIELD(Ours, Theirs, Length);                                     \
    SAME_FIELD(Ours, Theirs, ScsiStatus);                                 \
    SAME_FIELD(Ours, Theirs, PathId);                                     \
    SAME_FIELD(Ours, Theirs, TargetId);                                   \
    SAME_FIELD(Ours, Theirs, Lun);                                        \
    SAME_FIELD(Ours, Theirs, CdbLength);                                  \
    SAME_FIELD(Ours, Theirs, SenseInfoLength);                            \
    SAME_FIELD(Ours, Theirs, DataIn);                                     \
    SAME_FIELD(Ours, Theirs, DataTransferLength);                         \
    SAME_FIELD(Ours, Theirs, TimeOutValue);                               \
    SAME_FIELD(Ours, Theirs, Buffer);                                     \
    SAME_FIELD(Ours, Theirs, SenseInfoOffset);                            \
    SAME_FIELD(Ours, Theirs, Cdb)

SAME_REQUEST(ScsiPassThrough, SCSI_PASS_THROUGH, DataBufferOffset);
SAME_REQUEST(ScsiPassThroughDirect, SCSI_PASS_THROUGH_DIRECT, DataBuffer);
static_assert(sizeof(ScsiPassThrough::DataBufferOffset) == sizeof(SCSI_PASS_THROUGH::DataBufferOffset),
              "SCSI_PASS_THROUGH DataBufferOffset width");
static_assert(sizeof(ScsiBusData) == sizeof(SCSI_BUS_DATA), "SCSI_BUS_DATA size");
SAME_FIELD(ScsiBusData, SCSI_BUS_DATA, NumberOfLogicalUnits);
SAME_FIELD(ScsiBusData, SCSI_BUS_DATA, InquiryDataOffset);
SAME_FIELD(ScsiAdapterBusInfo, SCSI_ADAPTER_BUS_INFO, NumberOfBuses);
SAME_FIELD(ScsiAdapterBusInfo, SCSI_ADAPTER_BUS_INFO, BusData);
SAME_FIELD(ScsiInquiryData, SCSI_INQUIRY_DATA, InquiryDataLength);
SAME_FIELD(ScsiInquiryData, SCSI_INQUIRY_DATA, NextInquiryDataOffset);
SAME_FIELD(ScsiInquiryData, SCSI_INQUIRY_DATA, InquiryData);

static_assert(IoctlScsiGetInquiryData == IOCTL_SCSI_GET_INQUIRY_DATA, "IOCTL_SCSI_GET_INQUIRY_DATA");
static_assert(IoctlScsiPassThrough == IOCTL_SCSI_PASS_THROUGH, "IOCTL_SCSI_PASS_THROUGH");
static_assert(IoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT, "IOCTL_SCSI_PASS_THROUGH_DIRECT");
static_assert(ScsiIoctlDataIn == SCSI_IOCTL_DATA_IN && ScsiIoctlDataOut == SCSI_IOCTL_DATA_OUT, "SCSI_IOCTL_DATA_*");
#undef SAME_REQUEST
#undef SAME_FIELD
#endif

static_assert(NtStorageApi::ErrorSuccess == ERROR_SUCCESS && NtStorageApi::ErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
                  NtStorageApi::ErrorAccessDenied == ERROR_ACCESS_DENIED &&
                  NtStorageApi::ErrorInvalidHandle == ERROR_INVALID_HANDLE &&
                  NtStorageApi::ErrorInvalidFunction == ERROR_INVALID_FUNCTION &&
                  NtStorageApi::ErrorSharingViolation == ERROR_SHARING_VIOLATION &&
                  NtStorageApi::ErrorInvalidParameter == ERROR_INVALID_PARAMETER &&
                  NtStorageApi::ErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER &&
                  NtStorageApi::ErrorMoreData == ERROR_MORE_DATA,
              "error codes");
static_assert(NtStorageApi::KeyRead == KEY_READ && NtStorageApi::RegSz == REG_SZ, "registry constants");
static_assert(NtStorageApi::GenericRead == static_cast<uint32_t>(GENERIC_READ) &&
                  NtStorageApi::GenericWrite == static_cast<uint32_t>(GENERIC_WRITE) &&
                  NtStorageApi::FileShareRead == FILE_SHARE_READ && NtStorageApi::FileShareWrite == FILE_SHARE_WRITE &&
                  NtStorageApi::OpenExisting == OPEN_EXISTING,
              "file constants");
static_assert(sizeof(NtStorageApi::Key) == sizeof(HKEY) && sizeof(NtStorageApi::Handle) == sizeof(HANDLE),
              "keys and handles travel as integers of their width");

namespace {

// NtStorageApi::LocalMachine has HKEY_LOCAL_MACHINE's bits, so every key converts the same way.
HKEY ToKey(NtStorageApi::Key key) {
    return reinterpret_cast<HKEY>(key);
}

HANDLE ToHandle(NtStorageApi::Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

int32_t Win32NtStorageApi::OpenKey(Key parent, const char* subKey, uint32_t options, uint32_t access, Key* key) {
    HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExA(ToKey(parent), subKey, options, access, &opened);
    if (status == ERROR_SUCCESS) *key = reinterpret_cast<Key>(opened);
    return status;
}

int32_t Win32NtStorageApi::QueryKeyInfo(Key key, uint32_t* subKeys) {
    DWORD count = 0;
    const LONG status = ::RegQueryInfoKeyA(ToKey(key), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS && subKeys != nullptr) *subKeys = count;
    return status;
}

int32_t Win32NtStorageApi::QueryValue(Key key, const char* name, uint32_t* type, uint8_t* data, uint32_t* length) {
    DWORD valueType = 0;
    DWORD size = length != nullptr ? *length : 0;
    const LONG status = ::RegQueryValueExA(ToKey(key), name, nullptr, type != nullptr ? &valueType : nullptr, data,
                                           length != nullptr ? &size : nullptr);
    if (type != nullptr) *type = valueType;
    if (length != nullptr) *length = size;
    return status;
}

int32_t Win32NtStorageApi::CloseKey(Key key) {
    return ::RegCloseKey(ToKey(key));
}

uint32_t Win32NtStorageApi::QueryDosDeviceName(const char* name, char* targets, uint32_t room) {
    return ::QueryDosDeviceA(name, targets, room);
}

NtStorageApi::Handle Win32NtStorageApi::CreateDeviceFile(const char* path, uint32_t access, uint32_t sharing,
                                                         uint32_t disposition, uint32_t flagsAndAttributes) {
    return reinterpret_cast<Handle>(
        ::CreateFileA(path, access, sharing, nullptr, disposition, flagsAndAttributes, nullptr));
}

int Win32NtStorageApi::DeviceControl(Handle device, uint32_t code, void* input, uint32_t inputLength, void* output,
                                     uint32_t outputLength, uint32_t* returned) {
    DWORD count = 0;
    const BOOL done =
        ::DeviceIoControl(ToHandle(device), code, input, inputLength, output, outputLength, &count, nullptr);
    if (returned != nullptr) *returned = count;
    return done ? 1 : 0;
}

int Win32NtStorageApi::CloseDeviceHandle(Handle handle) {
    return ::CloseHandle(ToHandle(handle)) ? 1 : 0;
}
