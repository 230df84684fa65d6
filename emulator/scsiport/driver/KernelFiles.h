#pragma once

#include <ntddk.h>

#include <stdint.h>

// Whole files, read and written from the driver by NT path ("\??\C:\..."): the drives' flash
// images and logs. Synchronous, at passive level.
class KernelFiles {
public:
    // STATUS_OBJECT_NAME_NOT_FOUND when there is no such file; STATUS_FILE_INVALID when it does
    // not hold exactly SIZE bytes.
    static NTSTATUS ReadExactly(const WCHAR* path, uint8_t* data, uint32_t size);
    // Replaces the file's content with SIZE bytes of DATA.
    static NTSTATUS Replace(const WCHAR* path, const void* data, uint32_t size);
    // Adds SIZE bytes at the end of the file, creating it if needed.
    static NTSTATUS Append(const WCHAR* path, const void* data, uint32_t size);

private:
    static NTSTATUS Open(const WCHAR* path, ACCESS_MASK access, ULONG disposition, HANDLE* file);
    static NTSTATUS Write(HANDLE file, const void* data, uint32_t size);
};
