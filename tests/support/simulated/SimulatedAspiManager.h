#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "transport/AspiApi.h"
#include "transport/AspiRequestBlocks.h"

// An ASPI manager for tests, behind the AspiApi seam: its library may be absent or lack an entry
// point, it reports a chosen support status and adapter count, answers host adapter inquiries as
// told, and serves EmulatedDrives on several adapters and targets. It keeps what a transport must
// get right: loads and frees of its library, every request block as it arrived, and calls into
// entry points of a library that is not loaded.
//
// The entry points are plain functions, as a real library's are, so they reach the manager whose
// library was loaded last. One manager at a time, then.
class SimulatedAspiManager final : public AspiApi {
public:
    // The library, as LoadLibraryNamed finds it.
    bool LibraryPresent = true;
    bool HasSupportInfoEntry = true;
    bool HasSendCommandEntry = true;
    // GetASPI32SupportInfo: bits 8-15 and 0-7.
    uint8_t SupportStatus = SS_COMP;
    uint8_t ReportedAdapterCount = 1;

    // SCSI requests complete from a thread of the manager's own, this long after they were sent,
    // instead of within SendASPI32Command.
    bool CompleteLater = false;
    uint32_t LaterMilliseconds = 5;
    // Completes every SCSI request to a drive with this status instead of the drive's (the drive
    // still runs it); -1 leaves the drive's.
    int ForcedStatus = -1;

    struct AdapterAnswer {
        uint8_t Status = SS_COMP;
        uint8_t MaxTargets = 8;  // HA_Unique byte 3
    };
    // Adapters without an answer of their own answer SS_COMP with 8 targets.
    void SetAdapterAnswer(uint8_t adapter, uint8_t status, uint8_t maxTargets);
    // The drive (kept by the caller) answering LUN 0 of that target.
    void AttachDrive(uint8_t adapter, uint8_t target, emulator::EmulatedDrive* drive);

    // One request block as SendASPI32Command received it.
    struct ReceivedBlock {
        const void* Address = nullptr;
        uint8_t Command = 0;
        SRB_HAInquiry HostAdapterInquiry{};  // when Command is SC_HA_INQUIRY
        SRB_ExecSCSICmd ScsiRequest{};       // when Command is SC_EXEC_SCSI_CMD
        // Every byte of the data buffer was zero when the request arrived.
        bool BufferWasZero = false;
        // SRB_Status when SendASPI32Command returned, and the status the block was completed with.
        uint8_t StatusOnReturn = SS_PENDING;
        uint8_t FinalStatus = SS_PENDING;
    };
    // Complete once the transport's operation has returned: later completions are recorded before
    // the block's status is written.
    const std::deque<ReceivedBlock>& Received() const { return received_; }
    void ClearReceived() { received_.clear(); }

    int LoadAttempts() const { return loadAttempts_; }
    int Loads() const { return loads_; }
    int Frees() const { return frees_; }
    bool Loaded() const { return loads_ > frees_; }
    const std::vector<std::string>& LoadedNames() const { return loadedNames_; }
    const std::vector<std::string>& LookedUpNames() const { return lookedUpNames_; }
    int SupportInfoCalls() const { return supportInfoCalls_; }
    // Frees of a module this manager never handed out, or of one already freed.
    int BadFrees() const { return badFrees_; }
    // Entry point calls while the library was not loaded: a transport using what it released.
    int CallsWhileUnloaded() const { return callsWhileUnloaded_; }

    SimulatedAspiManager() = default;
    SimulatedAspiManager(const SimulatedAspiManager&) = delete;
    SimulatedAspiManager& operator=(const SimulatedAspiManager&) = delete;
    // Waits for completions still running.
    ~SimulatedAspiManager() override;

    Module LoadLibraryNamed(const char* name) override;
    Procedure FindEntryPoint(Module module, const char* name) override;
    void FreeLoadedLibrary(Module module) override;

private:
    struct Place {
        uint8_t Adapter;
        uint8_t Target;
        emulator::EmulatedDrive* Drive;
    };
    struct AdapterPlace {
        uint8_t Adapter;
        AdapterAnswer Answer;
    };

    static uint32_t ASPI_CDECL GetSupportInfoEntry();
    static uint32_t ASPI_CDECL SendCommandEntry(void* request);
    static SimulatedAspiManager* active_;

    uint32_t SupportInfo();
    uint32_t SendCommand(void* request);
    void HostAdapterInquiry(SRB_HAInquiry& block, ReceivedBlock& record);
    void ScsiRequest(SRB_ExecSCSICmd& block, ReceivedBlock& record);
    // Runs the request on its drive and completes the block; the status is written last.
    void Complete(SRB_ExecSCSICmd& block, ReceivedBlock& record);
    AdapterAnswer AnswerFor(uint8_t adapter) const;
    emulator::EmulatedDrive* DriveAt(uint8_t adapter, uint8_t target) const;

    std::vector<Place> places_;
    std::vector<AdapterPlace> adapters_;
    std::deque<ReceivedBlock> received_;
    std::vector<std::thread> completions_;
    std::vector<std::string> loadedNames_;
    std::vector<std::string> lookedUpNames_;
    int loadAttempts_ = 0;
    int loads_ = 0;
    int frees_ = 0;
    int supportInfoCalls_ = 0;
    int badFrees_ = 0;
    int callsWhileUnloaded_ = 0;
};
