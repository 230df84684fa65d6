#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "emulator/scsiport/PassThroughRequest.h"
#include "transport/NtStorageApi.h"
#include "transport/ScsiPassThrough.h"

// A Windows NT machine as the pass-through transport sees it, for tests: a registry below
// HKEY_LOCAL_MACHINE, the DOS device name table, SCSI port devices with their inquiry data, and
// drive devices wired to EmulatedDrives. Pass-through requests are executed on the drive, the
// buffered form through a system buffer as METHOD_BUFFERED does, the direct form on the caller's
// own memory. Like Wine, pass-through on a handle opened without write access fails with error 5.
//
// Opening "\\.\NAME" goes through the DOS name table (NAME's first target is the device's NT
// name), so a test sets up names and devices separately, as a machine has them. Names of keys,
// values, DOS devices and devices compare without regard to case, as on Windows.
//
// Every call is logged; keys and handles are counted so that a test can see each one closed.
class SimulatedNtMachine final : public NtStorageApi {
public:
    enum class CallKind : uint8_t {
        OpenKey,
        QueryKeyInfo,
        QueryValue,
        CloseKey,
        QueryDosDeviceName,
        CreateDeviceFile,
        DeviceControl,
        CloseDeviceHandle,
    };

    // A pass-through request as the caller handed it over (ScsiStatus: as the machine returned it).
    using Envelope = emulator::PassThroughRequest;

    struct Call {
        CallKind Kind = CallKind::OpenKey;
        std::string Path;   // key path below HKLM, DOS name, or file path
        std::string Name;   // value name
        uint32_t Options = 0;  // of a key's open
        uint32_t Access = 0;
        uint32_t Sharing = 0;
        uint32_t Disposition = 0;
        uint32_t Flags = 0;
        uint32_t ControlCode = 0;
        uint32_t InputLength = 0;
        uint32_t OutputLength = 0;
        bool HasInput = false;     // an input buffer was given
        bool SameBuffer = false;   // input and output the same memory
        bool HasEnvelope = false;
        Envelope Request;
        int32_t Error = 0;         // 0: the call succeeded
    };

    // Registry. Paths are below HKEY_LOCAL_MACHINE, components separated by backslashes.
    void AddKey(const std::string& path);  // with every missing parent
    void RemoveKey(const std::string& path);  // with its subkeys
    void SetStringValue(const std::string& path, const std::string& name, const std::string& text);  // with NUL
    // Stores BYTES as given: a REG_SZ need not end in NUL.
    void SetValue(const std::string& path, const std::string& name, uint32_t type, const std::string& bytes);
    void FailKeyInfo(bool fail) { failKeyInfo_ = fail; }
    // Fills the room past a value that QueryValue returns with BYTE, as the ANSI call may leave
    // its scratch there: a reader that looks past the length it was given sees it. -1: untouched.
    void PoisonValueRoom(int byte) { valueRoomPoison_ = byte; }

    // DOS device names. A new target goes in front of the name's list, as DefineDosDevice does.
    void DefineDosName(const std::string& name, const std::string& target);
    void RemoveDosName(const std::string& name);
    // Answers QueryDosDevice of NAME with exactly BYTES and their count, NULs or none: what a
    // caller must survive whatever the name service hands back.
    void SetDosNameAnswer(const std::string& name, const std::string& bytes);

    // Devices, by NT name. A port also gets its DOS name "ScsiN:" as port drivers create it; its
    // inquiry data report the buses with these unit counts (targets 0, 1, ... of each bus).
    void AddPort(uint8_t portNumber, const std::string& deviceName, const std::vector<uint8_t>& unitsPerBus);
    // Answers the port's IOCTL_SCSI_GET_INQUIRY_DATA with these bytes instead.
    void SetInquiryDataAnswer(uint8_t portNumber, const std::vector<uint8_t>& bytes);
    void FailInquiryData(uint8_t portNumber, bool fail);
    // DRIVE (kept by the caller) as the device DEVICENAME at that place of its port.
    void AddDrive(const std::string& deviceName, uint8_t portNumber, uint8_t pathId, uint8_t targetId,
                  emulator::EmulatedDrive* drive);
    // The device is gone: opens fail, requests on open handles fail.
    void RemoveDevice(const std::string& deviceName);
    // Off: a handle without write access may send pass-through (as NT 4 allowed).
    void SetAccessChecked(bool checked) { accessChecked_ = checked; }
    // Every following pass-through reports STATUS, whatever the drive answered and with whatever
    // data it moved: a drive that completes a command and still reports trouble.
    void ForceScsiStatus(uint8_t status) {
        statusForced_ = true;
        forcedStatus_ = status;
    }
    void StopForcingScsiStatus() { statusForced_ = false; }
    // Every following pass-through that brings data in delivers BYTES fewer than the drive sent,
    // with GOOD status and the count it did move in DataTransferLength, as a port reports a
    // transfer that ended early; the caller's buffer keeps what it held past them. 0 stops it.
    void EndDataInEarly(uint32_t bytes) { dataInShortBy_ = bytes; }

    const std::vector<Call>& Calls() const { return calls_; }
    std::vector<Call> CallsOf(CallKind kind) const;
    void ClearCalls() { calls_.clear(); }
    int32_t LastError() const { return lastError_; }

    int KeysOpened() const { return keysOpened_; }
    int KeysClosed() const { return keysClosed_; }
    int HandlesOpened() const { return handlesOpened_; }
    int HandlesClosed() const { return handlesClosed_; }
    int OpenKeys() const { return static_cast<int>(openKeys_.size()); }
    int OpenHandles() const { return static_cast<int>(openHandles_.size()); }
    // Closes of keys or handles that were not open.
    int BadCloses() const { return badCloses_; }

    int32_t OpenKey(Key parent, const char* subKey, uint32_t options, uint32_t access, Key* key) override;
    int32_t QueryKeyInfo(Key key, uint32_t* subKeys) override;
    int32_t QueryValue(Key key, const char* name, uint32_t* type, uint8_t* data, uint32_t* length) override;
    int32_t CloseKey(Key key) override;
    uint32_t QueryDosDeviceName(const char* name, char* targets, uint32_t room) override;
    Handle CreateDeviceFile(const char* path, uint32_t access, uint32_t sharing, uint32_t disposition,
                            uint32_t flagsAndAttributes) override;
    int DeviceControl(Handle device, uint32_t code, void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, uint32_t* returned) override;
    int CloseDeviceHandle(Handle handle) override;

private:
    struct Value {
        std::string Name;
        uint32_t Type;
        std::string Bytes;
    };
    struct Port {
        std::vector<uint8_t> UnitsPerBus;
        bool AnswerGiven = false;
        std::vector<uint8_t> Answer;
        bool Fails = false;
    };
    struct Device {
        bool IsPort = false;
        uint8_t PortNumber = 0;
        uint8_t PathId = 0;
        uint8_t TargetId = 0;
        emulator::EmulatedDrive* Drive = nullptr;
    };
    struct OpenHandle {
        std::string DeviceName;  // lower case
        uint32_t Access;
        uint32_t Sharing;
    };

    static std::string Lower(const std::string& text);
    Call& Log(CallKind kind);
    int32_t Fail(Call& call, int32_t error);  // the error, for the registry calls
    int Refuse(Call& call, int32_t error);     // 0, for the calls that return a success flag
    const std::string* KeyPath(Key key) const;
    const Device* FindDevice(const std::string& lowerName) const;
    emulator::EmulatedDrive* DriveAt(uint8_t portNumber, uint8_t pathId, uint8_t targetId) const;
    std::vector<uint8_t> InquiryData(uint8_t portNumber) const;
    int InquiryDataControl(Call& call, const Device& device, void* output, uint32_t outputLength, uint32_t* returned);
    int PassThroughControl(Call& call, const Device& device, bool direct, void* input, uint32_t inputLength,
                           void* output, uint32_t outputLength, uint32_t* returned);
    emulator::EmulatedDrive* Target(const Device& device, uint8_t pathId, uint8_t targetId, uint8_t lun) const;

    std::map<std::string, std::vector<Value>> keys_;            // lower-case path -> values
    std::map<std::string, std::vector<std::string>> dosNames_;  // lower-case name -> targets
    std::map<std::string, Device> devices_;                     // lower-case NT name
    std::map<uint8_t, Port> ports_;
    std::map<Key, std::string> openKeys_;
    std::map<Handle, OpenHandle> openHandles_;
    Key nextKey_ = 0x1000;
    Handle nextHandle_ = 0x100;
    std::map<std::string, std::string> rawDosAnswers_;          // lower-case name -> bytes
    bool failKeyInfo_ = false;
    int valueRoomPoison_ = -1;
    bool accessChecked_ = true;
    bool statusForced_ = false;
    uint8_t forcedStatus_ = 0;
    uint32_t dataInShortBy_ = 0;

    std::vector<Call> calls_;
    int32_t lastError_ = 0;
    int keysOpened_ = 0;
    int keysClosed_ = 0;
    int handlesOpened_ = 0;
    int handlesClosed_ = 0;
    int badCloses_ = 0;
};
