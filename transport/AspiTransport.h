#pragma once

#include <cstdint>

#include "transport/AspiApi.h"
#include "transport/AspiRequestBlocks.h"
#include "transport/DriveCommandSet.h"
#include "transport/DriveTransport.h"
#include "transport/ScopedHandle.h"

// The drive-access layer of Windows 95/98: the ASPI for Win32 manager. A drive is addressed by
// host adapter (PathId) and target alone, so there is no handle to open. Every command is a fresh
// SRB_ExecSCSICmd on the running operation's stack; the manager completes it from its own context
// and the operation spins on the block's status until then, with no time limit: the block must stay
// where it is until the manager has written it, and a drive programming its flash may take long.
//
// The library is loaded by name at construction and held until teardown; a construction that finds
// the manager unusable releases it at once, so Usable == 0 means nothing is held.
class AspiTransport final : public DriveTransport {
public:
    static constexpr const char* LibraryName = "wnaspi32.dll";
    static constexpr const char* SupportInfoName = "GetASPI32SupportInfo";
    static constexpr const char* SendCommandName = "SendASPI32Command";
    static constexpr uint32_t AnswerBufferSize = DriveCommandSet::AspiAllocationLength;
    // An adapter whose inquiry reports 0 targets has the classic eight.
    static constexpr uint32_t DefaultTargetCount = 8;

    // The seam must outlive the transport: the teardown releases the library through it.
    explicit AspiTransport(AspiApi& api);
    ~AspiTransport() override;

    void EnumerateDevices(DeviceList& list) override;
    int InquireDevice() override;
    int IdentifyController() override;
    int OpenDevice(const DeviceRecord& record) override;
    void CloseDevice() override;
    int ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int CommitFirmware() override;

private:
    // The library is released through the seam that loaded it.
    struct LibraryTraits {
        using Handle = AspiApi::Module;
        static constexpr Handle Invalid = nullptr;  // what a failed LoadLibraryA gives
        AspiApi& Api;
        void Close(Handle module) const { Api.FreeLoadedLibrary(module); }
    };

    void ReleaseLibrary();
    // The target count of one adapter, or 0 when none of its targets is to be probed.
    uint32_t TargetCount(uint8_t adapter);
    // Sends one SCSI command to CurrentDevice and waits for it; non-zero only on SS_COMP.
    int Execute(const CommandDescriptorBlock& cdb, uint8_t direction, uint8_t* buffer, uint32_t length);
    // INQUIRY and the identity query answer into answer_, cleared before each.
    int Query(const CommandDescriptorBlock& cdb);

    ScopedHandle<LibraryTraits> library_;
    AspiApi::SupportInfoEntry getSupportInfo_ = nullptr;
    AspiApi::SendCommandEntry sendCommand_ = nullptr;
    uint8_t answer_[AnswerBufferSize] = {};
};
