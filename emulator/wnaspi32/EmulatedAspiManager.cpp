#include "emulator/wnaspi32/EmulatedAspiManager.h"

#include "emulator/drive/ConfiguredDrive.h"
#include "emulator/wnaspi32/AspiRequestHandler.h"

using emulator::EmulatedDrive;
using emulator::EmulatedDriveFile;

namespace {

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool EmulatedAspiManager::Attach(HMODULE self) {
    self_ = self;
    ::InitializeCriticalSection(&lock_);
    wake_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return wake_ != nullptr;
}

void EmulatedAspiManager::Detach() {
    // Reached through FreeLibrary only when no worker runs: a running worker holds a reference.
    ::CloseHandle(wake_);
    ::DeleteCriticalSection(&lock_);
}

void EmulatedAspiManager::Report(const std::string& text) const {
    // A DLL of a windowed program has nowhere else to say it; Wine shows it with WINEDEBUG=+debugstr.
    ::OutputDebugStringA(("wnaspi32: " + text + "\n").c_str());
}

bool EmulatedAspiManager::FindConfig(std::string& path) const {
    char buffer[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableA(ConfigVariable, buffer, sizeof buffer);
    if (length >= sizeof buffer) return false;
    if (length != 0) {
        path.assign(buffer, length);
        return true;
    }
    path.clear();
    const DWORD modulePath = ::GetModuleFileNameA(self_, buffer, sizeof buffer);
    if (modulePath == 0 || modulePath >= sizeof buffer) return true;
    const std::string beside = emulator::ConfigText::Resolve(emulator::ConfigText::DirectoryOf(buffer), ConfigFileName);
    if (FileExists(beside)) path = beside;
    return true;
}

void EmulatedAspiManager::Configure() {
    if (configured_) return;
    configured_ = true;
    std::string path;
    if (!FindConfig(path)) {
        Report(std::string(ConfigVariable) + " is longer than MAX_PATH");
        return;
    }
    if (path.empty()) {
        config_.SetDefault();
    } else if (!config_.Load(path)) {
        Report(path + ": " + config_.Error());
        return;
    }
    ready_ = SetUpDrives();
}

bool EmulatedAspiManager::SetUpDrives() {
    drives_.clear();
    for (const AspiManagerConfig::Drive& entry : config_.Drives) {
        std::string problem;
        std::unique_ptr<EmulatedDriveFile> file = emulator::ConfiguredDrive::Start(entry, problem);
        if (file == nullptr) {
            Report(problem);
            drives_.clear();
            return false;
        }
        // Emptied from the start, then a line added as each command runs. A log that cannot be
        // written stops nothing: the drive serves the program all the same.
        if (!entry.LogPath.empty() && !file->OpenLog(entry.LogPath)) Report(entry.LogPath + ": cannot be written");
        drives_.push_back({&entry, std::move(file)});
    }
    return true;
}

uint32_t EmulatedAspiManager::GetSupportInfo() {
    ::EnterCriticalSection(&lock_);
    Configure();
    const uint32_t info = ready_ ? (static_cast<uint32_t>(config_.SupportStatus) << 8) | config_.AdapterCount()
                                 : static_cast<uint32_t>(SS_FAILED_INIT) << 8;
    ::LeaveCriticalSection(&lock_);
    return info;
}

uint32_t EmulatedAspiManager::SendCommand(void* request) {
    if (request == nullptr) return SS_INVALID_SRB;
    ::EnterCriticalSection(&lock_);
    Configure();
    ::LeaveCriticalSection(&lock_);
    // From here on the configuration and the drive table do not change.
    uint8_t* bytes = static_cast<uint8_t*>(request);
    uint8_t status = SS_INVALID_CMD;
    if (!ready_) {
        status = SS_FAILED_INIT;
    } else if (bytes[0] == SC_HA_INQUIRY) {
        return HostAdapterInquiry(*static_cast<SRB_HAInquiry*>(request));
    } else if (bytes[0] == SC_EXEC_SCSI_CMD) {
        return ScsiRequest(*static_cast<SRB_ExecSCSICmd*>(request));
    }
    StoreRequestStatus(bytes[1], status);
    return status;
}

uint32_t EmulatedAspiManager::HostAdapterInquiry(SRB_HAInquiry& block) {
    const uint8_t count = config_.AdapterCount();
    uint8_t status = SS_INVALID_HA;
    if (block.SRB_HaId < count) {
        const AspiManagerConfig::Adapter answer = config_.AdapterAnswer(block.SRB_HaId);
        status = answer.Status;
        if (status == SS_COMP) AspiRequestHandler::AnswerHostAdapterInquiry(block, count, answer.MaxTargets);
    }
    StoreRequestStatus(block.SRB_Status, status);
    return status;
}

uint32_t EmulatedAspiManager::ScsiRequest(SRB_ExecSCSICmd& block) {
    uint8_t status = SS_INVALID_HA;
    if (block.SRB_HaId < config_.AdapterCount()) {
        if (block.SRB_Lun == 0 && config_.DriveAt(block.SRB_HaId, block.SRB_Target) >= 0) {
            StoreRequestStatus(block.SRB_Status, SS_PENDING);
            // The block is the worker's now and may be completed before this returns.
            if (Queue(block)) return SS_PENDING;
            status = SS_ASPI_IS_BUSY;
        } else {
            status = AspiRequestHandler::NoDevice(block);
        }
    }
    StoreRequestStatus(block.SRB_Status, status);
    return status;
}

bool EmulatedAspiManager::Queue(SRB_ExecSCSICmd& block) {
    ::EnterCriticalSection(&lock_);
    bool queued = queueCount_ < QueueCapacity;
    if (queued && !workerRunning_) {
        // The worker's own reference to this DLL; it gives it back as its last act.
        char path[MAX_PATH];
        const DWORD length = ::GetModuleFileNameA(self_, path, sizeof path);
        HMODULE reference = length != 0 && length < sizeof path ? ::LoadLibraryA(path) : nullptr;
        DWORD threadId = 0;  // Windows 95 fails CreateThread without a place for the id
        HANDLE worker = reference != nullptr ? ::CreateThread(nullptr, 0, WorkerMain, this, 0, &threadId) : nullptr;
        if (worker != nullptr) {
            ::CloseHandle(worker);
            workerRunning_ = true;
        } else {
            if (reference != nullptr) ::FreeLibrary(reference);
            queued = false;
        }
    }
    if (queued) {
        queue_[(queueHead_ + queueCount_) % QueueCapacity] = &block;
        ++queueCount_;
        ::SetEvent(wake_);
    }
    ::LeaveCriticalSection(&lock_);
    return queued;
}

DWORD WINAPI EmulatedAspiManager::WorkerMain(LPVOID manager) {
    EmulatedAspiManager* self = static_cast<EmulatedAspiManager*>(manager);
    const HMODULE module = self->self_;
    self->Work();
    ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

void EmulatedAspiManager::Work() {
    for (;;) {
        ::EnterCriticalSection(&lock_);
        if (queueCount_ == 0) {
            ::LeaveCriticalSection(&lock_);
            if (::WaitForSingleObject(wake_, IdleMilliseconds) == WAIT_TIMEOUT) {
                ::EnterCriticalSection(&lock_);
                const bool idle = queueCount_ == 0;
                if (idle) workerRunning_ = false;
                ::LeaveCriticalSection(&lock_);
                if (idle) return;
            }
            continue;
        }
        SRB_ExecSCSICmd* block = queue_[queueHead_];
        queueHead_ = (queueHead_ + 1) % QueueCapacity;
        --queueCount_;
        ::LeaveCriticalSection(&lock_);
        Run(*block);
    }
}

void EmulatedAspiManager::Run(SRB_ExecSCSICmd& block) {
    ServedDrive& served = drives_[static_cast<size_t>(config_.DriveAt(block.SRB_HaId, block.SRB_Target))];
    EmulatedDrive::Request request;
    uint8_t status = AspiRequestHandler::PrepareDriveRequest(block, request);
    if (status == SS_PENDING) {
        // Its log line is written before the completion: a client that has seen it may be killed at once.
        const EmulatedDrive::Result result = served.File->Execute(request);
        if (result.senseKey == EmulatedDrive::SenseMediumError && result.asc == EmulatedDrive::AscWriteError &&
            served.File->SaveFailed()) {
            Report(served.Entry->FlashPath + ": the commit could not be saved; the drive answered it with a write error");
        }
        status = AspiRequestHandler::FinishDriveRequest(block, result);
    }
    // Last: once it is written the block is its owner's again and may be gone.
    StoreRequestStatus(block.SRB_Status, status);
}
