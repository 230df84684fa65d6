#include "emulator/scsiport/driver/CallerProcess.h"

// From kernelbase: a driver may import nothing from kernel32 or ntdll under Wine's device host.
extern "C" {
__declspec(dllimport) BOOLEAN NTAPI ReadProcessMemory(HANDLE process, const void* address, void* buffer,
                                                      SIZE_T size, SIZE_T* done);
__declspec(dllimport) BOOLEAN NTAPI WriteProcessMemory(HANDLE process, void* address, const void* buffer,
                                                       SIZE_T size, SIZE_T* done);
NTSTATUS NTAPI ZwQuerySystemInformation(ULONG infoClass, void* info, ULONG length, ULONG* returned);
}

namespace {

// Process rights of the user-mode headers, which a driver does not include.
constexpr ACCESS_MASK ProcessVmOperation = 0x0008;
constexpr ACCESS_MASK ProcessVmRead = 0x0010;
constexpr ACCESS_MASK ProcessVmWrite = 0x0020;

constexpr ULONG SystemHandleInformation = 16;
constexpr ULONG PoolTag = 0x63655345;  // "ESec"

// SYSTEM_HANDLE_INFORMATION's entries.
struct HandleEntry {
    ULONG OwnerPid;
    UCHAR ObjectType;
    UCHAR HandleFlags;
    USHORT HandleValue;
    void* ObjectPointer;
    ACCESS_MASK GrantedAccess;
};
struct HandleList {
    ULONG Count;
    HandleEntry Entries[1];
};

ULONG_PTR hostProcess = 0;
int fileType = -1;

// The system's handle list, in pool memory the caller frees; null when it cannot be had.
HandleList* Handles() {
    for (ULONG size = 0x40000; size <= 0x1000000; size *= 2) {
        void* buffer = ExAllocatePoolWithTag(PagedPool, size, PoolTag);
        if (buffer == nullptr) return nullptr;
        ULONG returned = 0;
        const NTSTATUS status = ZwQuerySystemInformation(SystemHandleInformation, buffer, size, &returned);
        if (NT_SUCCESS(status)) return static_cast<HandleList*>(buffer);
        ExFreePoolWithTag(buffer, PoolTag);
        if (status != STATUS_INFO_LENGTH_MISMATCH && status != STATUS_BUFFER_TOO_SMALL) return nullptr;
    }
    return nullptr;
}

}  // namespace

void CallerProcess::Initialize() {
    hostProcess = reinterpret_cast<ULONG_PTR>(PsGetCurrentProcessId());
    // The type number of files: that of a file handle of our own.
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"\\??\\C:\\");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE directory;
    if (!NT_SUCCESS(ZwCreateFile(&directory, FILE_LIST_DIRECTORY | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                                 FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0))) {
        return;
    }
    if (HandleList* list = Handles()) {
        for (ULONG i = 0; i < list->Count; ++i) {
            const HandleEntry& entry = list->Entries[i];
            if (entry.OwnerPid == hostProcess && entry.HandleValue == reinterpret_cast<ULONG_PTR>(directory)) {
                fileType = entry.ObjectType;
            }
        }
        ExFreePoolWithTag(list, PoolTag);
    }
    ZwClose(directory);
}

ACCESS_MASK CallerProcess::OpenAccess() {
    if (fileType < 0) return AccessUnknown;
    HandleList* list = Handles();
    if (list == nullptr) return AccessUnknown;
    ACCESS_MASK access = AccessUnknown;
    int newest = -1;
    for (ULONG i = 0; i < list->Count; ++i) {
        const HandleEntry& entry = list->Entries[i];
        if (entry.OwnerPid == hostProcess && entry.ObjectType == fileType && entry.HandleValue > newest) {
            newest = entry.HandleValue;
            access = entry.GrantedAccess;
        }
    }
    ExFreePoolWithTag(list, PoolTag);
    return access;
}

NTSTATUS CallerProcess::OpenCaller(ACCESS_MASK access, HANDLE* process) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, 0, nullptr, nullptr);
    CLIENT_ID client;
    client.UniqueProcess = PsGetCurrentProcessId();
    client.UniqueThread = nullptr;
    return ZwOpenProcess(process, access, &attributes, &client);
}

NTSTATUS CallerProcess::Read(const void* address, void* buffer, uint32_t length) {
    HANDLE process;
    NTSTATUS status = OpenCaller(ProcessVmRead, &process);
    if (!NT_SUCCESS(status)) return status;
    SIZE_T done = 0;
    if (!ReadProcessMemory(process, address, buffer, length, &done) || done != length) {
        status = STATUS_INVALID_USER_BUFFER;
    }
    ZwClose(process);
    return status;
}

NTSTATUS CallerProcess::Write(void* address, const void* buffer, uint32_t length) {
    HANDLE process;
    NTSTATUS status = OpenCaller(ProcessVmWrite | ProcessVmOperation, &process);
    if (!NT_SUCCESS(status)) return status;
    SIZE_T done = 0;
    if (!WriteProcessMemory(process, address, buffer, length, &done) || done != length) {
        status = STATUS_INVALID_USER_BUFFER;
    }
    ZwClose(process);
    return status;
}
