#include "tests/support/simulated/SimulatedNtMachine.h"

#include "emulator/scsiport/PassThroughRequestHandler.h"
#include "emulator/scsiport/PortInquiryData.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <iterator>

using emulator::EmulatedDrive;
using emulator::PortInquiryData;

namespace {

constexpr int32_t ErrorIoDevice = 1117;
constexpr int32_t ErrorDeviceNotConnected = 1167;
constexpr int32_t ErrorRevisionMismatch = 1306;


bool Wants(uint32_t access, uint32_t right) {
    return (access & right) != 0;
}

}  // namespace

std::string SimulatedNtMachine::Lower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

SimulatedNtMachine::Call& SimulatedNtMachine::Log(CallKind kind) {
    calls_.emplace_back();
    calls_.back().Kind = kind;
    return calls_.back();
}

int32_t SimulatedNtMachine::Fail(Call& call, int32_t error) {
    call.Error = error;
    lastError_ = error;
    return error;
}

int SimulatedNtMachine::Refuse(Call& call, int32_t error) {
    Fail(call, error);
    return 0;
}

std::vector<SimulatedNtMachine::Call> SimulatedNtMachine::CallsOf(CallKind kind) const {
    std::vector<Call> matching;
    for (const Call& call : calls_) {
        if (call.Kind == kind) matching.push_back(call);
    }
    return matching;
}

// ---- registry ----

void SimulatedNtMachine::AddKey(const std::string& path) {
    for (size_t end = path.find('\\'); ; end = path.find('\\', end + 1)) {
        keys_[Lower(path.substr(0, end))];
        if (end == std::string::npos) break;
    }
}

void SimulatedNtMachine::RemoveKey(const std::string& path) {
    const std::string lower = Lower(path);
    for (auto it = keys_.begin(); it != keys_.end();) {
        const bool below = it->first.size() > lower.size() && it->first.compare(0, lower.size(), lower) == 0 &&
                           it->first[lower.size()] == '\\';
        it = it->first == lower || below ? keys_.erase(it) : std::next(it);
    }
}

void SimulatedNtMachine::SetStringValue(const std::string& path, const std::string& name, const std::string& text) {
    SetValue(path, name, RegSz, std::string(text.c_str(), text.size() + 1));
}

void SimulatedNtMachine::SetValue(const std::string& path, const std::string& name, uint32_t type,
                                  const std::string& bytes) {
    AddKey(path);
    std::vector<Value>& values = keys_[Lower(path)];
    for (Value& value : values) {
        if (Lower(value.Name) == Lower(name)) {
            value.Type = type;
            value.Bytes = bytes;
            return;
        }
    }
    values.push_back({name, type, bytes});
}

const std::string* SimulatedNtMachine::KeyPath(Key key) const {
    static const std::string root;
    if (key == LocalMachine) return &root;
    const auto it = openKeys_.find(key);
    return it != openKeys_.end() ? &it->second : nullptr;
}

int32_t SimulatedNtMachine::OpenKey(Key parent, const char* subKey, uint32_t options, uint32_t access, Key* key) {
    Call& call = Log(CallKind::OpenKey);
    call.Options = options;
    call.Access = access;
    const std::string* base = KeyPath(parent);
    if (base == nullptr) return Fail(call, ErrorInvalidHandle);
    if (key == nullptr) return Fail(call, ErrorInvalidParameter);
    const std::string sub = subKey != nullptr ? subKey : "";
    call.Path = base->empty() ? sub : sub.empty() ? *base : *base + "\\" + sub;
    const std::string lower = Lower(call.Path);
    if (!lower.empty() && keys_.count(lower) == 0) return Fail(call, ErrorFileNotFound);
    *key = nextKey_;
    nextKey_ += 4;
    openKeys_[*key] = lower;
    ++keysOpened_;
    return ErrorSuccess;
}

int32_t SimulatedNtMachine::QueryKeyInfo(Key key, uint32_t* subKeys) {
    Call& call = Log(CallKind::QueryKeyInfo);
    const std::string* base = KeyPath(key);
    if (base == nullptr) return Fail(call, ErrorInvalidHandle);
    call.Path = *base;
    if (failKeyInfo_) return Fail(call, ErrorAccessDenied);
    const std::string prefix = base->empty() ? "" : *base + "\\";
    uint32_t count = 0;
    for (const auto& entry : keys_) {
        const std::string& path = entry.first;
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path.find('\\', prefix.size()) == std::string::npos) {
            ++count;
        }
    }
    if (subKeys != nullptr) *subKeys = count;
    return ErrorSuccess;
}

int32_t SimulatedNtMachine::QueryValue(Key key, const char* name, uint32_t* type, uint8_t* data, uint32_t* length) {
    Call& call = Log(CallKind::QueryValue);
    call.Name = name != nullptr ? name : "";
    const std::string* path = KeyPath(key);
    if (path == nullptr) return Fail(call, ErrorInvalidHandle);
    call.Path = *path;
    if (data != nullptr && length == nullptr) return Fail(call, ErrorInvalidParameter);
    const auto values = keys_.find(*path);
    const Value* found = nullptr;
    if (values != keys_.end()) {
        for (const Value& value : values->second) {
            if (Lower(value.Name) == Lower(call.Name)) found = &value;
        }
    }
    if (found == nullptr) return Fail(call, ErrorFileNotFound);
    if (type != nullptr) *type = found->Type;
    const uint32_t size = static_cast<uint32_t>(found->Bytes.size());
    if (data != nullptr && *length < size) {
        *length = size;
        return Fail(call, ErrorMoreData);
    }
    if (data != nullptr) {
        std::memcpy(data, found->Bytes.data(), size);
        if (valueRoomPoison_ >= 0) std::memset(data + size, valueRoomPoison_, *length - size);
    }
    if (length != nullptr) *length = size;
    return ErrorSuccess;
}

int32_t SimulatedNtMachine::CloseKey(Key key) {
    Call& call = Log(CallKind::CloseKey);
    const auto it = openKeys_.find(key);
    if (it == openKeys_.end()) {
        ++badCloses_;
        return Fail(call, ErrorInvalidHandle);
    }
    call.Path = it->second;
    openKeys_.erase(it);
    ++keysClosed_;
    return ErrorSuccess;
}

// ---- DOS names and devices ----

void SimulatedNtMachine::DefineDosName(const std::string& name, const std::string& target) {
    std::vector<std::string>& targets = dosNames_[Lower(name)];
    targets.insert(targets.begin(), target);
}

void SimulatedNtMachine::RemoveDosName(const std::string& name) {
    dosNames_.erase(Lower(name));
}

void SimulatedNtMachine::SetDosNameAnswer(const std::string& name, const std::string& bytes) {
    rawDosAnswers_[Lower(name)] = bytes;
}

uint32_t SimulatedNtMachine::QueryDosDeviceName(const char* name, char* targets, uint32_t room) {
    Call& call = Log(CallKind::QueryDosDeviceName);
    if (name == nullptr) {
        Fail(call, ErrorInvalidParameter);
        return 0;
    }
    call.Path = name;
    const auto raw = rawDosAnswers_.find(Lower(name));
    if (raw != rawDosAnswers_.end()) {
        if (targets == nullptr || room < raw->second.size()) {
            Fail(call, ErrorInsufficientBuffer);
            return 0;
        }
        std::memcpy(targets, raw->second.data(), raw->second.size());
        return static_cast<uint32_t>(raw->second.size());
    }
    const auto it = dosNames_.find(Lower(name));
    if (it == dosNames_.end()) {
        Fail(call, ErrorFileNotFound);
        return 0;
    }
    std::string answer;
    for (const std::string& target : it->second) answer += target + '\0';
    answer += '\0';
    if (targets == nullptr || room < answer.size()) {
        Fail(call, ErrorInsufficientBuffer);
        return 0;
    }
    std::memcpy(targets, answer.data(), answer.size());
    return static_cast<uint32_t>(answer.size());
}

void SimulatedNtMachine::AddPort(uint8_t portNumber, const std::string& deviceName,
                                 const std::vector<uint8_t>& unitsPerBus) {
    ports_[portNumber].UnitsPerBus = unitsPerBus;
    Device port;
    port.IsPort = true;
    port.PortNumber = portNumber;
    devices_[Lower(deviceName)] = port;
    DefineDosName("Scsi" + std::to_string(portNumber) + ":", deviceName);
}

void SimulatedNtMachine::SetInquiryDataAnswer(uint8_t portNumber, const std::vector<uint8_t>& bytes) {
    ports_[portNumber].AnswerGiven = true;
    ports_[portNumber].Answer = bytes;
}

void SimulatedNtMachine::FailInquiryData(uint8_t portNumber, bool fail) {
    ports_[portNumber].Fails = fail;
}

void SimulatedNtMachine::AddDrive(const std::string& deviceName, uint8_t portNumber, uint8_t pathId, uint8_t targetId,
                                  EmulatedDrive* drive) {
    Device device;
    device.PortNumber = portNumber;
    device.PathId = pathId;
    device.TargetId = targetId;
    device.Drive = drive;
    devices_[Lower(deviceName)] = device;
}

void SimulatedNtMachine::RemoveDevice(const std::string& deviceName) {
    devices_.erase(Lower(deviceName));
}

const SimulatedNtMachine::Device* SimulatedNtMachine::FindDevice(const std::string& lowerName) const {
    const auto it = devices_.find(lowerName);
    return it != devices_.end() ? &it->second : nullptr;
}

EmulatedDrive* SimulatedNtMachine::DriveAt(uint8_t portNumber, uint8_t pathId, uint8_t targetId) const {
    for (const auto& entry : devices_) {
        const Device& device = entry.second;
        if (!device.IsPort && device.PortNumber == portNumber && device.PathId == pathId &&
            device.TargetId == targetId) {
            return device.Drive;
        }
    }
    return nullptr;
}

SimulatedNtMachine::Handle SimulatedNtMachine::CreateDeviceFile(const char* path, uint32_t access, uint32_t sharing,
                                                                uint32_t disposition, uint32_t flagsAndAttributes) {
    Call& call = Log(CallKind::CreateDeviceFile);
    call.Path = path != nullptr ? path : "";
    call.Access = access;
    call.Sharing = sharing;
    call.Disposition = disposition;
    call.Flags = flagsAndAttributes;

    static const std::string prefix = "\\\\.\\";
    const auto name = call.Path.compare(0, prefix.size(), prefix) == 0
                          ? dosNames_.find(Lower(call.Path.substr(prefix.size())))
                          : dosNames_.end();
    if (name == dosNames_.end() || name->second.empty() || FindDevice(Lower(name->second.front())) == nullptr) {
        Fail(call, ErrorFileNotFound);
        return InvalidHandle;
    }
    const std::string device = Lower(name->second.front());
    for (const auto& entry : openHandles_) {
        const OpenHandle& other = entry.second;
        if (other.DeviceName != device) continue;
        const bool refused = (Wants(access, GenericRead) && !Wants(other.Sharing, FileShareRead)) ||
                             (Wants(access, GenericWrite) && !Wants(other.Sharing, FileShareWrite)) ||
                             (Wants(other.Access, GenericRead) && !Wants(sharing, FileShareRead)) ||
                             (Wants(other.Access, GenericWrite) && !Wants(sharing, FileShareWrite));
        if (refused) {
            Fail(call, ErrorSharingViolation);
            return InvalidHandle;
        }
    }
    const Handle handle = nextHandle_;
    nextHandle_ += 4;
    openHandles_[handle] = {device, access, sharing};
    ++handlesOpened_;
    return handle;
}

int SimulatedNtMachine::CloseDeviceHandle(Handle handle) {
    Call& call = Log(CallKind::CloseDeviceHandle);
    const auto it = openHandles_.find(handle);
    if (it == openHandles_.end()) {
        ++badCloses_;
        Fail(call, ErrorInvalidHandle);
        return 0;
    }
    call.Path = it->second.DeviceName;
    openHandles_.erase(it);
    ++handlesClosed_;
    return 1;
}

// ---- I/O controls ----

int SimulatedNtMachine::DeviceControl(Handle handle, uint32_t code, void* input, uint32_t inputLength, void* output,
                                      uint32_t outputLength, uint32_t* returned) {
    Call& call = Log(CallKind::DeviceControl);
    call.ControlCode = code;
    call.InputLength = inputLength;
    call.OutputLength = outputLength;
    call.HasInput = input != nullptr;
    call.SameBuffer = input != nullptr && input == output;
    const auto open = openHandles_.find(handle);
    if (open == openHandles_.end()) return Refuse(call, ErrorInvalidHandle);
    call.Path = open->second.DeviceName;
    if (returned == nullptr) return Refuse(call, ErrorInvalidParameter);
    const Device* device = FindDevice(open->second.DeviceName);
    if (device == nullptr) return Refuse(call, ErrorDeviceNotConnected);

    switch (code) {
    case IoctlScsiGetInquiryData:
        return InquiryDataControl(call, *device, output, outputLength, returned);
    case IoctlScsiPassThrough:
    case IoctlScsiPassThroughDirect: {
        // The control codes ask for read and write access; Wine's server checks them against the
        // handle before any driver sees the request.
        const uint32_t access = open->second.Access;
        if (accessChecked_ && !(Wants(access, GenericRead) && Wants(access, GenericWrite))) {
            return Refuse(call, ErrorAccessDenied);
        }
        return PassThroughControl(call, *device, code == IoctlScsiPassThroughDirect, input, inputLength, output,
                                  outputLength, returned);
    }
    default:
        return Refuse(call, ErrorInvalidFunction);
    }
}

std::vector<uint8_t> SimulatedNtMachine::InquiryData(uint8_t portNumber) const {
    const std::vector<uint8_t>& unitsPerBus = ports_.at(portNumber).UnitsPerBus;
    std::vector<PortInquiryData::Unit> units;
    for (size_t bus = 0; bus < unitsPerBus.size(); ++bus) {
        for (unsigned target = 0; target < unitsPerBus[bus]; ++target) {
            PortInquiryData::Unit unit;
            unit.bus = static_cast<uint8_t>(bus);
            unit.target = static_cast<uint8_t>(target);
            const EmulatedDrive* drive = DriveAt(portNumber, unit.bus, unit.target);
            unit.config = drive != nullptr ? &drive->Config() : nullptr;
            units.push_back(unit);
        }
    }
    const uint8_t buses = static_cast<uint8_t>(unitsPerBus.size());
    const uint32_t count = static_cast<uint32_t>(units.size());
    std::vector<uint8_t> answer(PortInquiryData::Size(buses, count));
    PortInquiryData::Write(buses, units.data(), count, answer.data(), static_cast<uint32_t>(answer.size()));
    return answer;
}

int SimulatedNtMachine::InquiryDataControl(Call& call, const Device& device, void* output, uint32_t outputLength,
                                           uint32_t* returned) {
    if (!device.IsPort) return Refuse(call, ErrorInvalidFunction);
    const Port& port = ports_[device.PortNumber];
    if (port.Fails) return Refuse(call, ErrorIoDevice);
    const std::vector<uint8_t> answer = port.AnswerGiven ? port.Answer : InquiryData(device.PortNumber);
    if (output == nullptr || outputLength < answer.size()) return Refuse(call, ErrorInsufficientBuffer);
    // A port without buses answers nothing: no copy from an empty vector's null data.
    if (!answer.empty()) std::memcpy(output, answer.data(), answer.size());
    *returned = static_cast<uint32_t>(answer.size());
    return 1;
}

EmulatedDrive* SimulatedNtMachine::Target(const Device& device, uint8_t pathId, uint8_t targetId, uint8_t lun) const {
    // A drive's own device carries its address: the class driver overrides the request's fields.
    if (!device.IsPort) return device.Drive;
    return lun == 0 ? DriveAt(device.PortNumber, pathId, targetId) : nullptr;
}

int SimulatedNtMachine::PassThroughControl(Call& call, const Device& device, bool direct, void* input,
                                           uint32_t inputLength, void* output, uint32_t outputLength,
                                           uint32_t* returned) {
    using Handler = emulator::PassThroughRequestHandler;
    // METHOD_BUFFERED: the driver works on a system buffer that holds the input and is as long as
    // the longer of the two; what it reports as returned is copied to the output afterwards.
    std::vector<uint8_t> system(std::max(inputLength, outputLength), 0);
    if (input != nullptr && inputLength != 0) std::memcpy(system.data(), input, inputLength);
    const Handler::Prepared prepared =
        Handler::Prepare(input != nullptr ? system.data() : nullptr, inputLength, outputLength, direct);
    if (input == nullptr || prepared.refusal == Handler::Refusal::InvalidParameter) {
        if (input != nullptr && inputLength >= (direct ? sizeof(ScsiPassThroughDirect) : sizeof(ScsiPassThrough))) {
            call.HasEnvelope = true;
            call.Request = prepared.request;
        }
        return Refuse(call, ErrorInvalidParameter);
    }
    call.HasEnvelope = true;
    call.Request = prepared.request;
    if (prepared.refusal == Handler::Refusal::RevisionMismatch) return Refuse(call, ErrorRevisionMismatch);

    EmulatedDrive* drive = Target(device, prepared.request.PathId, prepared.request.TargetId, prepared.request.Lun);
    if (drive == nullptr) return Refuse(call, ErrorDeviceNotConnected);
    // The direct form's data are the caller's own memory, which this machine shares.
    uint8_t* data = !prepared.HasData() ? nullptr
                    : direct            ? static_cast<uint8_t*>(prepared.request.DataBuffer)
                                        : prepared.systemData;
    const bool endsEarly = dataInShortBy_ != 0 && data != nullptr && prepared.DataIn();
    // A transfer that ends early: the drive answers into a scratch area, the caller gets its start.
    std::vector<uint8_t> scratch(endsEarly ? prepared.request.DataTransferLength : 0);
    EmulatedDrive::Result result =
        drive->Execute(Handler::DriveRequest(prepared, system.data(), endsEarly ? scratch.data() : data));
    if (endsEarly) {
        result.transferred = result.transferred > dataInShortBy_ ? result.transferred - dataInShortBy_ : 0;
        if (result.transferred != 0) std::memcpy(data, scratch.data(), result.transferred);
    }
    if (statusForced_) result.status = forcedStatus_;
    const uint32_t back = Handler::Complete(prepared, system.data(), outputLength, result);
    call.Request.ScsiStatus = result.status;
    if (output != nullptr && back != 0) std::memcpy(output, system.data(), back);
    *returned = back;
    return 1;
}
