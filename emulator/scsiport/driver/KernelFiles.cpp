#include "emulator/scsiport/driver/KernelFiles.h"

NTSTATUS KernelFiles::Open(const WCHAR* path, ACCESS_MASK access, ULONG disposition, HANDLE* file) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    IO_STATUS_BLOCK io;
    return ZwCreateFile(file, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ, disposition, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE,
                        nullptr, 0);
}

NTSTATUS KernelFiles::Write(HANDLE file, const void* data, uint32_t size) {
    IO_STATUS_BLOCK io;
    if (size == 0) return STATUS_SUCCESS;
    NTSTATUS status = ZwWriteFile(file, nullptr, nullptr, nullptr, &io, const_cast<void*>(data), size, nullptr, nullptr);
    if (NT_SUCCESS(status) && io.Information != size) status = STATUS_DISK_FULL;
    return status;
}

NTSTATUS KernelFiles::ReadExactly(const WCHAR* path, uint8_t* data, uint32_t size) {
    HANDLE file;
    NTSTATUS status = Open(path, GENERIC_READ, FILE_OPEN, &file);
    if (!NT_SUCCESS(status)) return status;
    FILE_STANDARD_INFORMATION info;
    IO_STATUS_BLOCK io;
    status = ZwQueryInformationFile(file, &io, &info, sizeof info, FileStandardInformation);
    if (NT_SUCCESS(status) && info.EndOfFile.QuadPart != size) status = STATUS_FILE_INVALID;
    if (NT_SUCCESS(status) && size != 0) {
        status = ZwReadFile(file, nullptr, nullptr, nullptr, &io, data, size, nullptr, nullptr);
        if (NT_SUCCESS(status) && io.Information != size) status = STATUS_FILE_INVALID;
    }
    ZwClose(file);
    return status;
}

NTSTATUS KernelFiles::Replace(const WCHAR* path, const void* data, uint32_t size) {
    HANDLE file;
    NTSTATUS status = Open(path, GENERIC_WRITE, FILE_OVERWRITE_IF, &file);
    if (!NT_SUCCESS(status)) return status;
    status = Write(file, data, size);
    ZwClose(file);
    return status;
}

NTSTATUS KernelFiles::Append(const WCHAR* path, const void* data, uint32_t size) {
    HANDLE file;
    NTSTATUS status = Open(path, FILE_APPEND_DATA, FILE_OPEN_IF, &file);
    if (!NT_SUCCESS(status)) return status;
    status = Write(file, data, size);
    ZwClose(file);
    return status;
}
