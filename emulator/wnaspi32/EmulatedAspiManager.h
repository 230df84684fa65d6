#pragma once

#include <windows.h>

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDriveFile.h"
#include "emulator/wnaspi32/AspiManagerConfig.h"
#include "transport/AspiRequestBlocks.h"

// The ASPI manager inside the emulator wnaspi32.dll: the drives of its configuration (see
// AspiManagerConfig for the file and its format), each an EmulatedDriveFile whose flash survives the
// process and whose command log gets a line as each command runs.
//
// Like a real manager it completes SCSI requests from its own context: a worker thread takes them
// in arrival order, runs them on the drive, fills the block and writes SRB_Status last. Host adapter
// inquiries and requests that reach no drive complete within SendASPI32Command. Completion is told
// by SRB_Status only: posting routines and notification events are not called.
//
// The worker holds a reference to the DLL while it runs and leaves through FreeLibraryAndExitThread
// once it has been idle a while: a client may free the library as soon as its last request has
// completed, and the code the worker still runs must stay mapped until then. Only Windows 95 calls.
class EmulatedAspiManager {
public:
    static constexpr const char* ConfigVariable = "FLASHUPGRADE_ASPI_CONFIG";
    static constexpr const char* ConfigFileName = "wnaspi32.cfg";
    static constexpr DWORD IdleMilliseconds = 250;
    static constexpr unsigned QueueCapacity = 32;

    // DLL_PROCESS_ATTACH and DLL_PROCESS_DETACH.
    bool Attach(HMODULE self);
    void Detach();

    uint32_t GetSupportInfo();
    uint32_t SendCommand(void* request);

private:
    struct ServedDrive {
        const AspiManagerConfig::Drive* Entry;
        std::unique_ptr<emulator::EmulatedDriveFile> File;
    };

    // Reads the configuration and sets the drives up, once; call with the lock held.
    void Configure();
    bool SetUpDrives();
    // The file to read, empty for none; false when the variable names a path too long to use.
    bool FindConfig(std::string& path) const;
    void Report(const std::string& text) const;

    uint32_t HostAdapterInquiry(SRB_HAInquiry& block);
    uint32_t ScsiRequest(SRB_ExecSCSICmd& block);
    // False when the queue is full or no worker can be started.
    bool Queue(SRB_ExecSCSICmd& block);
    static DWORD WINAPI WorkerMain(LPVOID manager);
    void Work();
    void Run(SRB_ExecSCSICmd& block);

    HMODULE self_ = nullptr;
    CRITICAL_SECTION lock_;
    HANDLE wake_ = nullptr;

    bool configured_ = false;
    bool ready_ = false;
    AspiManagerConfig config_;
    std::vector<ServedDrive> drives_;

    SRB_ExecSCSICmd* queue_[QueueCapacity] = {};
    unsigned queueHead_ = 0;
    unsigned queueCount_ = 0;
    bool workerRunning_ = false;
};
