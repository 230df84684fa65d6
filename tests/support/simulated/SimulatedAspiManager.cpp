#include "tests/support/simulated/SimulatedAspiManager.h"

#include <chrono>
#include <cstring>

#include "emulator/wnaspi32/AspiRequestHandler.h"

using emulator::EmulatedDrive;

SimulatedAspiManager* SimulatedAspiManager::active_ = nullptr;

SimulatedAspiManager::~SimulatedAspiManager() {
    for (std::thread& completion : completions_) completion.join();
    if (active_ == this) active_ = nullptr;
}

void SimulatedAspiManager::SetAdapterAnswer(uint8_t adapter, uint8_t status, uint8_t maxTargets) {
    AdapterAnswer answer;
    answer.Status = status;
    answer.MaxTargets = maxTargets;
    for (AdapterPlace& place : adapters_) {
        if (place.Adapter == adapter) {
            place.Answer = answer;
            return;
        }
    }
    adapters_.push_back({adapter, answer});
}

void SimulatedAspiManager::AttachDrive(uint8_t adapter, uint8_t target, EmulatedDrive* drive) {
    for (Place& place : places_) {
        if (place.Adapter == adapter && place.Target == target) {
            place.Drive = drive;
            return;
        }
    }
    places_.push_back({adapter, target, drive});
}

SimulatedAspiManager::AdapterAnswer SimulatedAspiManager::AnswerFor(uint8_t adapter) const {
    for (const AdapterPlace& place : adapters_) {
        if (place.Adapter == adapter) return place.Answer;
    }
    return AdapterAnswer();
}

EmulatedDrive* SimulatedAspiManager::DriveAt(uint8_t adapter, uint8_t target) const {
    for (const Place& place : places_) {
        if (place.Adapter == adapter && place.Target == target) return place.Drive;
    }
    return nullptr;
}

AspiApi::Module SimulatedAspiManager::LoadLibraryNamed(const char* name) {
    ++loadAttempts_;
    loadedNames_.push_back(name != nullptr ? name : "");
    if (!LibraryPresent) return nullptr;
    ++loads_;
    active_ = this;
    return this;
}

AspiApi::Procedure SimulatedAspiManager::FindEntryPoint(Module module, const char* name) {
    lookedUpNames_.push_back(name != nullptr ? name : "");
    if (module != this || !Loaded() || name == nullptr) return nullptr;
    if (HasSupportInfoEntry && std::strcmp(name, "GetASPI32SupportInfo") == 0) {
        return reinterpret_cast<Procedure>(&GetSupportInfoEntry);
    }
    if (HasSendCommandEntry && std::strcmp(name, "SendASPI32Command") == 0) {
        return reinterpret_cast<Procedure>(&SendCommandEntry);
    }
    return nullptr;
}

void SimulatedAspiManager::FreeLoadedLibrary(Module module) {
    if (module != this || !Loaded()) {
        ++badFrees_;
        return;
    }
    ++frees_;
}

uint32_t ASPI_CDECL SimulatedAspiManager::GetSupportInfoEntry() {
    return active_ != nullptr ? active_->SupportInfo() : 0;
}

uint32_t ASPI_CDECL SimulatedAspiManager::SendCommandEntry(void* request) {
    return active_ != nullptr ? active_->SendCommand(request) : 0;
}

uint32_t SimulatedAspiManager::SupportInfo() {
    ++supportInfoCalls_;
    if (!Loaded()) ++callsWhileUnloaded_;
    return (static_cast<uint32_t>(SupportStatus) << 8) | ReportedAdapterCount;
}

uint32_t SimulatedAspiManager::SendCommand(void* request) {
    if (!Loaded()) ++callsWhileUnloaded_;
    received_.emplace_back();
    ReceivedBlock& record = received_.back();
    record.Address = request;
    record.Command = static_cast<const uint8_t*>(request)[0];
    uint8_t* status = static_cast<uint8_t*>(request) + 1;
    switch (record.Command) {
    case SC_HA_INQUIRY:
        HostAdapterInquiry(*static_cast<SRB_HAInquiry*>(request), record);
        break;
    case SC_EXEC_SCSI_CMD:
        ScsiRequest(*static_cast<SRB_ExecSCSICmd*>(request), record);
        break;
    default:
        record.FinalStatus = SS_INVALID_CMD;
        StoreRequestStatus(*status, SS_INVALID_CMD);
        break;
    }
    // For a later completion this may already be the final status: the thread runs meanwhile.
    record.StatusOnReturn = LoadRequestStatus(*status);
    return record.StatusOnReturn;
}

void SimulatedAspiManager::HostAdapterInquiry(SRB_HAInquiry& block, ReceivedBlock& record) {
    std::memcpy(&record.HostAdapterInquiry, &block, sizeof block);
    uint8_t status = SS_INVALID_HA;
    if (block.SRB_HaId < ReportedAdapterCount) {
        const AdapterAnswer answer = AnswerFor(block.SRB_HaId);
        status = answer.Status;
        if (status == SS_COMP) {
            AspiRequestHandler::AnswerHostAdapterInquiry(block, ReportedAdapterCount, answer.MaxTargets);
        }
    }
    record.FinalStatus = status;
    StoreRequestStatus(block.SRB_Status, status);
}

void SimulatedAspiManager::ScsiRequest(SRB_ExecSCSICmd& block, ReceivedBlock& record) {
    std::memcpy(&record.ScsiRequest, &block, sizeof block);
    record.BufferWasZero = block.SRB_BufPointer != nullptr;
    for (uint32_t i = 0; record.BufferWasZero && i < block.SRB_BufLen; ++i) {
        record.BufferWasZero = block.SRB_BufPointer[i] == 0;
    }
    // The manager owns the block from here on: it says so before it returns.
    StoreRequestStatus(block.SRB_Status, SS_PENDING);
    if (!CompleteLater) {
        Complete(block, record);
        return;
    }
    const uint32_t delay = LaterMilliseconds;
    completions_.emplace_back([this, &block, &record, delay] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        Complete(block, record);
    });
}

void SimulatedAspiManager::Complete(SRB_ExecSCSICmd& block, ReceivedBlock& record) {
    uint8_t status = SS_INVALID_HA;
    if (block.SRB_HaId < ReportedAdapterCount) {
        EmulatedDrive* drive = block.SRB_Lun == 0 ? DriveAt(block.SRB_HaId, block.SRB_Target) : nullptr;
        if (drive == nullptr) {
            status = AspiRequestHandler::NoDevice(block);
        } else {
            EmulatedDrive::Request request;
            status = AspiRequestHandler::PrepareDriveRequest(block, request);
            if (status == SS_PENDING) {
                status = AspiRequestHandler::FinishDriveRequest(block, drive->Execute(request));
                if (ForcedStatus >= 0) status = static_cast<uint8_t>(ForcedStatus);
            }
        }
    }
    record.FinalStatus = status;
    // Last: once the status is written the block belongs to its owner again and may be gone.
    StoreRequestStatus(block.SRB_Status, status);
}
