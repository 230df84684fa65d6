#pragma once

#include <ntddk.h>

#include <stdint.h>

// The process whose request the driver is handling. Under Wine the driver runs in the device host,
// a process of its own: the caller's memory (the data buffer of a direct pass-through) is reached
// through a process handle, and the access the caller asked for when it opened a device is seen
// on the handle the device host holds to the new file while the open is handled.
class CallerProcess {
public:
    static constexpr ACCESS_MASK AccessUnknown = 0xFFFFFFFFu;

    // Call once from DriverEntry: notes the device host's own process and how it lists files.
    static void Initialize();

    // Copies LENGTH bytes between the calling process's ADDRESS and the driver's BUFFER.
    static NTSTATUS Read(const void* address, void* buffer, uint32_t length);
    static NTSTATUS Write(void* address, const void* buffer, uint32_t length);

    // While an IRP_MJ_CREATE is handled: the access of the device host's newest file handle,
    // which is the one it holds to the file being opened, with the caller's access.
    static ACCESS_MASK OpenAccess();

private:
    static NTSTATUS OpenCaller(ACCESS_MASK access, HANDLE* process);
};
