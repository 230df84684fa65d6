#include "transport/SgIoTransport.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

constexpr uint32_t RecordNumberLimit = 255;   // the record's address fields are 8 bits wide
// A unit attention (a disc inserted, a reset) is reported once, by the next command that is not
// INQUIRY: the identity query meets it and is asked again.
constexpr int IdentityAttempts = 3;
constexpr size_t TypeRoom = 16;
constexpr size_t NodeNameLimit = 32;   // "sr0", "sg12": a longer name is no node of ours

bool ParseNumber(const std::string& text, size_t& at, uint32_t& value) {
    const size_t start = at;
    unsigned long number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        number = number * 10 + static_cast<unsigned long>(text[at] - '0');
        if (number > 0xFFFFFFFFul) return false;
        ++at;
    }
    value = static_cast<uint32_t>(number);
    return at > start;
}

uint8_t RecordNumber(uint32_t number) {
    return static_cast<uint8_t>(number < RecordNumberLimit ? number : RecordNumberLimit);
}

// Whether the identification that the drive gave now is the one it gave the scan.
bool SameIdentity(const DeviceRecord& listed, const DeviceRecord& now) {
    return std::memcmp(listed.Vendor, now.Vendor, sizeof listed.Vendor) == 0 &&
           std::memcmp(listed.Product, now.Product, sizeof listed.Product) == 0 &&
           listed.ControllerId == now.ControllerId && listed.VersionMajor == now.VersionMajor &&
           listed.VersionMinor == now.VersionMinor && listed.FlashSize == now.FlashSize;
}

bool IsNodeName(const std::string& name) {
    if (name.empty() || name.size() > NodeNameLimit) return false;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!plain) return false;
    }
    return true;
}

// What an errno of an open or an SG_IO says. The open drive's node is gone from under an open
// descriptor with ENODEV from the sg driver, ENXIO from the block layer. The refusals are the
// ones the kernel gives before a command is queued; anything else (EIO, an interrupted wait) may
// have reached the drive.
TransportFailure::Cause CauseOf(int error) {
    switch (error) {
    case ENODEV:
    case ENXIO: return TransportFailure::Cause::Gone;
    case EPERM:
    case EACCES:
    case EBUSY:
    case ENOENT:
    case EINVAL:
    case ENOSYS:
    case EFAULT:
    case ENOMEM: return TransportFailure::Cause::Refused;
    default: return TransportFailure::Cause::Unknown;
    }
}

}  // namespace

int SgIoTransport::ScanOpenFlags() {
    return O_RDWR | O_NONBLOCK | O_CLOEXEC;
}

int SgIoTransport::HoldOpenFlags() {
    return O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC;
}

SgIoTransport::SgIoTransport(LinuxScsiApi& scsi)
    : scsi_(scsi), command_(DescriptorTraits{scsi}, &CommandFd), hold_(DescriptorTraits{scsi}, &HoldFd) {
    std::vector<std::string> names;
    if (scsi_.ListDirectory(DevicesDirectory, names) == 0) {
        std::set<uint32_t> hosts;
        for (const std::string& name : names) {
            ScsiAddress address;
            if (ParseAddress(name, address)) hosts.insert(address.Host);
        }
        AdapterCount = static_cast<uint32_t>(hosts.size());
        Usable = 1;
    }
    ClearDeviceRecord(CurrentDevice);
}

SgIoTransport::~SgIoTransport() {
    CloseAll();
}

bool SgIoTransport::ParseAddress(const std::string& name, ScsiAddress& address) {
    // H:C:T:L in decimal; sysfs lists hosts and targets ("host0", "target0:0:0") beside them.
    uint32_t parts[4];
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= name.size() || name[at] != ':') return false;
            ++at;
        }
        if (!ParseNumber(name, at, parts[i])) return false;
    }
    if (at != name.size()) return false;
    address.Host = parts[0];
    address.Channel = parts[1];
    address.Target = parts[2];
    address.Lun = parts[3];
    return true;
}

std::string SgIoTransport::DeviceDirectory(const ScsiAddress& address) {
    char path[96];
    std::snprintf(path, sizeof path, "%s/%u:%u:%u:%u", DevicesDirectory, unsigned{address.Host},
                  unsigned{address.Channel}, unsigned{address.Target}, unsigned{address.Lun});
    return path;
}

void SgIoTransport::EnumerateDevices(DeviceList& list) {
    scanFailures_.clear();
    listed_.clear();
    std::vector<std::string> names;
    std::vector<ScsiAddress> candidates;
    if (scsi_.ListDirectory(DevicesDirectory, names) == 0) {
        for (const std::string& name : names) {
            ScsiAddress address;
            if (ParseAddress(name, address) && address.Lun == 0) candidates.push_back(address);
        }
    }
    // Directory order is the file system's; the list is in numeric order of the addresses.
    std::sort(candidates.begin(), candidates.end(), [](const ScsiAddress& a, const ScsiAddress& b) {
        if (a.Host != b.Host) return a.Host < b.Host;
        if (a.Channel != b.Channel) return a.Channel < b.Channel;
        return a.Target < b.Target;
    });
    for (const ScsiAddress& address : candidates) ExamineCandidate(address, list);
    ClearDeviceRecord(CurrentDevice);
}

bool SgIoTransport::IsCdRomDevice(const ScsiAddress& address) {
    char text[TypeRoom];
    size_t length = 0;
    if (scsi_.ReadAttribute((DeviceDirectory(address) + "/type").c_str(), text, sizeof text, &length) != 0) {
        return false;
    }
    if (length > sizeof text) return false;
    size_t at = 0;
    uint32_t type = 0;
    const std::string value(text, length);
    if (!ParseNumber(value, at, type)) return false;
    while (at < value.size() && (value[at] == '\n' || value[at] == ' ')) ++at;
    return at == value.size() && type == CdRomType;
}

int SgIoTransport::NodeBelow(const std::string& directory, std::string& node) {
    std::vector<std::string> names;
    const int error = scsi_.ListDirectory(directory.c_str(), names);
    if (error != 0) return error;
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!IsNodeName(name)) continue;
        node = "/dev/" + name;
        return 0;
    }
    return ENOENT;
}

const SgIoTransport::Listed* SgIoTransport::ListedAs(const DeviceRecord& record) const {
    const std::string node(record.DosDeviceName, strnlen(record.DosDeviceName, sizeof record.DosDeviceName));
    for (const Listed& listed : listed_) {
        if (listed.Node == node) return &listed;
    }
    return nullptr;
}

SgIoTransport::ScsiAddress SgIoTransport::AddressOf(const DeviceRecord& record) const {
    if (const Listed* listed = ListedAs(record)) return listed->Where;
    ScsiAddress address;
    address.Host = record.PortNumber;
    address.Channel = record.PathId;
    address.Target = record.TargetId;
    address.Lun = record.Lun;
    return address;
}

int SgIoTransport::FindNodes(const DeviceRecord& record, Nodes& nodes) {
    return FindNodesAt(AddressOf(record), nodes);
}

int SgIoTransport::FindNodesAt(const ScsiAddress& address, Nodes& nodes) {
    nodes = Nodes{};
    const std::string directory = DeviceDirectory(address);
    const int blockError = NodeBelow(directory + "/block", nodes.Block);
    const int genericError = NodeBelow(directory + "/scsi_generic", nodes.Generic);
    if (nodes.Block.empty() && nodes.Generic.empty()) return blockError != 0 ? blockError : genericError;
    return 0;
}

void SgIoTransport::ExamineCandidate(const ScsiAddress& address, DeviceList& list) {
    if (!IsCdRomDevice(address)) return;
    Nodes nodes;
    if (FindNodesAt(address, nodes) != 0) return;
    const std::string& node = nodes.Block.empty() ? nodes.Generic : nodes.Block;
    if (node.size() >= sizeof CurrentDevice.DosDeviceName) return;
    ClearDeviceRecord(CurrentDevice);
    // The record's address fields hold at most 255; the whole address stays with the transport.
    CurrentDevice.PortNumber = RecordNumber(address.Host);
    CurrentDevice.PathId = RecordNumber(address.Channel);
    CurrentDevice.TargetId = RecordNumber(address.Target);
    std::memcpy(CurrentDevice.DosDeviceName, node.data(), node.size());

    int fd = -1;
    const int error = scsi_.Open(node.c_str(), ScanOpenFlags(), &fd);
    if (error != 0) {
        scanFailures_.push_back({node, error});
        return;
    }
    command_.Reset(fd);
    commandNode_ = node;
    last_ = TransportFailure();
    refused_ = false;
    if (InquireDevice() && IdentifyController()) {
        list.Append(CurrentDevice);
        listed_.push_back({node, address, nodes});
    }
    command_.Close();
}

SgIoTransport::PathIs SgIoTransport::FindByPath(const std::string& path, const DeviceList& list, size_t* position,
                                                int* error) {
    mode_t type = 0;
    dev_t device = 0;
    *error = scsi_.Stat(path.c_str(), &type, &device);
    if (*error == ENOENT || *error == ENOTDIR) return PathIs::Missing;
    if (*error != 0) return PathIs::Unreadable;
    if (type != S_IFBLK && type != S_IFCHR) return PathIs::NotADevice;
    for (size_t i = 0; i < list.Count(); ++i) {
        const Listed* listed = ListedAs(*list.At(i));
        if (listed == nullptr) continue;
        if (SameDevice(listed->Found.Block, type, device) || SameDevice(listed->Found.Generic, type, device)) {
            *position = i;
            return PathIs::ListedDrive;
        }
    }
    return PathIs::OtherDevice;
}

bool SgIoTransport::SameDevice(const std::string& node, mode_t type, dev_t device) {
    if (node.empty()) return false;
    mode_t nodeType = 0;
    dev_t nodeDevice = 0;
    return scsi_.Stat(node.c_str(), &nodeType, &nodeDevice) == 0 && nodeType == type && nodeDevice == device;
}

TransportFailure SgIoTransport::LastFailure() const { return last_; }

void SgIoTransport::Fail(int error, const std::string& node) {
    last_ = TransportFailure();
    last_.Error = error;
    last_.Node = node;
    last_.Why = CauseOf(error);
}

int SgIoTransport::WriteRefusal(const DeviceRecord& record, std::string& node) {
    Nodes nodes;
    if (FindNodes(record, nodes) != 0) return 0;   // OpenDevice reports a vanished drive itself
    if (!nodes.Generic.empty() || scsi_.MaySendAnyCommand()) return 0;
    node = nodes.Block;
    return EPERM;
}

int SgIoTransport::OpenDevice(const DeviceRecord& record) {
    CurrentDevice = record;
    CloseAll();
    last_ = TransportFailure();
    refused_ = false;

    const size_t nameLength = strnlen(CurrentDevice.DosDeviceName, sizeof CurrentDevice.DosDeviceName);
    const std::string listed(CurrentDevice.DosDeviceName, nameLength);
    Nodes nodes;
    const int found = FindNodes(CurrentDevice, nodes);
    if (found != 0) {
        Fail(found, listed);
        return 0;
    }
    // Another device may have taken the address since the scan: only the listed one is opened.
    if (listed != (nodes.Block.empty() ? nodes.Generic : nodes.Block)) {
        Fail(ENODEV, listed);
        return 0;
    }
    if (!OpenNodes(nodes)) return 0;
    // The same node may now lead to another drive (unplugged, another one plugged in): only
    // now that it is held can the answer not change before the operation's commands.
    if (identityCheck_ && !AnswersAsListed()) {
        CloseAll();
        return 0;
    }
    return 1;
}

bool SgIoTransport::OpenNodes(const Nodes& nodes) {
    int fd = -1;
    if (!nodes.Block.empty()) {
        const int error = scsi_.Open(nodes.Block.c_str(), HoldOpenFlags(), &fd);
        if (error != 0) {
            Fail(error, nodes.Block);
            return false;
        }
        if (nodes.Generic.empty()) {
            command_.Reset(fd);
            commandNode_ = nodes.Block;
            return true;
        }
        hold_.Reset(fd);
    }
    const int error = scsi_.Open(nodes.Generic.c_str(), HoldOpenFlags(), &fd);
    if (error != 0) {
        Fail(error, nodes.Generic);
        CloseAll();
        return false;
    }
    command_.Reset(fd);
    commandNode_ = nodes.Generic;
    return true;
}

bool SgIoTransport::AnswersAsListed() {
    const DeviceRecord listed = CurrentDevice;
    // The answers fill a record of their own: what they leave out stays zero.
    ClearDeviceRecord(CurrentDevice);
    std::memcpy(CurrentDevice.DosDeviceName, listed.DosDeviceName, sizeof listed.DosDeviceName);
    const bool inquired = InquireDevice() != 0;
    bool identified = false;
    for (int attempt = 0; inquired && !identified && attempt < IdentityAttempts; ++attempt) {
        identified = IdentifyController() != 0;
        if (!identified && !last_.WantsPause()) break;
    }
    replacement_ = CurrentDevice;
    replacementOfFamily_ = identified;
    CurrentDevice = listed;
    if (identified && SameIdentity(listed, replacement_)) {
        last_ = TransportFailure();
        return true;
    }
    // An answer that arrived and is not the listed drive's. A command that failed on its way,
    // or a drive that still asks for time, says nothing of who is there: that failure stays the
    // reason.
    const bool answerRefused = last_.Why == TransportFailure::Cause::Unknown && last_.Error == 0;
    const bool identityRefused = inquired && last_.Why == TransportFailure::Cause::Answered && !last_.WantsPause();
    if (identified || answerRefused || identityRefused) {
        last_ = TransportFailure();
        last_.Why = TransportFailure::Cause::Replaced;
        last_.Node = commandNode_;
    }
    return false;
}

void SgIoTransport::CloseDevice() {
    CloseAll();
}

void SgIoTransport::CloseAll() {
    command_.Close();
    hold_.Close();
}

int SgIoTransport::Exchange(const CommandDescriptorBlock& cdb, int direction, uint8_t* buffer, uint32_t length,
                            sg_io_hdr_t& header) {
    last_ = TransportFailure();
    // A command that is not sent leaves a header that says nothing happened.
    std::memset(&header, 0, sizeof header);
    if (CommandFd < 0) return 0;
    if (refused_) {
        last_ = lasting_;
        return 0;
    }
    uint8_t sense[SenseRequested];
    std::memset(sense, 0, sizeof sense);
    header.interface_id = 'S';
    header.dxfer_direction = direction;
    header.cmd_len = cdb.Length;
    header.mx_sb_len = sizeof sense;
    header.dxfer_len = length;
    // The data stay in the caller's buffer; the kernel maps or copies them, nothing here does.
    header.dxferp = buffer;
    header.cmdp = const_cast<uint8_t*>(cdb.Bytes);
    header.sbp = sense;
    header.timeout = timeOutMs_;
    const int error = scsi_.SendScsi(CommandFd, &header);
    if (observer_ != nullptr) observer_->CommandDone({cdb, direction, buffer, length, error, header, sense});
    if (error != 0) {
        Fail(error, commandNode_);
        last_.Lasting = error == EPERM || last_.Why == TransportFailure::Cause::Gone;
    } else {
        Judge(header, sense);
    }
    header.sbp = nullptr;   // the buffer ends with this call
    // A refusal for want of privilege, a drive that is gone and one that has stopped answering
    // stay so for the rest of the open.
    if (last_.Lasting) {
        refused_ = true;
        lasting_ = last_;
    }
    return error == 0 ? 1 : 0;
}

bool SgIoTransport::ParseSense(const uint8_t* sense, size_t length, uint8_t& key, uint8_t& asc, uint8_t& ascq) {
    const uint8_t format = sense != nullptr && length > 0 ? sense[0] & 0x7F : 0;
    if ((format == 0x70 || format == 0x71) && length >= 14) {
        key = sense[2] & 0x0F;
        asc = sense[12];
        ascq = sense[13];
        return true;
    }
    if ((format == 0x72 || format == 0x73) && length >= 4) {
        key = sense[1] & 0x0F;
        asc = sense[2];
        ascq = sense[3];
        return true;
    }
    return false;
}

bool SgIoTransport::Completed(const sg_io_hdr_t& header) {
    return header.status == 0 && header.host_status == 0 && header.driver_status == 0;
}

void SgIoTransport::Judge(const sg_io_hdr_t& header, const uint8_t* sense) {
    using Cause = TransportFailure::Cause;
    if (Completed(header)) return;
    last_.Node = commandNode_;
    last_.Status = header.status;
    last_.HostStatus = header.host_status;
    last_.DriverStatus = header.driver_status;
    const uint16_t host = header.host_status;
    if (host == HostNoConnect || host == HostBadTarget || host == HostTransportFailFast) {
        last_.Why = Cause::Gone;
    } else if (host == HostTimeOut || (header.driver_status & 0x0F) == DriverTimeOut) {
        last_.Why = Cause::TimedOut;
    } else if (host != 0) {
        last_.Why = Cause::Failed;
    } else {
        last_.Why = Cause::Answered;
        const size_t written = header.sb_len_wr < SenseRequested ? header.sb_len_wr : SenseRequested;
        ParseSense(sense, written, last_.SenseKey, last_.Asc, last_.Ascq);
    }
    last_.Lasting = last_.Why == Cause::Gone || last_.Why == Cause::TimedOut;
}

int SgIoTransport::Send(const CommandDescriptorBlock& cdb, int direction, uint8_t* buffer, uint32_t length,
                        bool wholeLengthNeeded) {
    sg_io_hdr_t header;
    if (!Exchange(cdb, direction, buffer, length, header) || !Completed(header)) return 0;
    // A read succeeds only when all LENGTH bytes arrived.
    if (wholeLengthNeeded && header.resid != 0) return 0;
    return 1;
}

int SgIoTransport::SendAnswered(const CommandDescriptorBlock& cdb, uint8_t* answer, uint32_t room, bool statusNeeded,
                                size_t& received) {
    received = 0;
    std::memset(answer, 0, room);
    sg_io_hdr_t header;
    if (!Exchange(cdb, SG_DXFER_FROM_DEV, answer, room, header)) return 0;
    if (statusNeeded && !Completed(header)) return 0;
    // Only what arrived is judged. A transport that reports no residual (0) leaves the whole
    // zeroed room, whose zero maker word and device type refuse an empty answer all the same.
    const int resid = header.resid;
    received = resid >= 0 && static_cast<uint32_t>(resid) <= room ? room - static_cast<uint32_t>(resid) : 0;
    return 1;
}

int SgIoTransport::InquireDevice() {
    uint8_t answer[InquiryTransferLength];
    size_t received = 0;
    if (!SendAnswered(DriveCommandSet::Inquiry(DriveCommandSet::PassThroughAllocationLength), answer, sizeof answer,
                      true, received)) {
        return 0;
    }
    return DriveCommandSet::AcceptInquiry(answer, received, CurrentDevice);
}

int SgIoTransport::IdentifyController() {
    uint8_t answer[IdentityTransferLength];
    size_t received = 0;
    // The status is not looked at: some drives of the family end this query with CHECK CONDITION
    // yet deliver the block. The answer's content decides.
    if (!SendAnswered(DriveCommandSet::IdentityQuery(DriveCommandSet::PassThroughAllocationLength), answer,
                      sizeof answer, false, received)) {
        return 0;
    }
    return DriveCommandSet::AcceptIdentity(answer, received, CurrentDevice);
}

int SgIoTransport::ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Send(DriveCommandSet::ReadBackChunk(bufferId, offset, length), SG_DXFER_FROM_DEV, buffer, length, true);
}

int SgIoTransport::DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Send(DriveCommandSet::DumpFirmwareChunk(bufferId, offset, length), SG_DXFER_FROM_DEV, buffer, length,
                true);
}

int SgIoTransport::WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Send(DriveCommandSet::WriteFirmwareChunk(bufferId, offset, length), SG_DXFER_TO_DEV, buffer, length,
                false);
}

int SgIoTransport::CommitFirmware() {
    return Send(DriveCommandSet::CommitFirmware(), SG_DXFER_NONE, nullptr, 0, false);
}

int SgIoTransport::TestUnitReady() {
    return Send(DriveCommandSet::TestUnitReady(), SG_DXFER_NONE, nullptr, 0, false);
}

void SgIoTransport::TakeListing(const SgIoTransport& other) {
    listed_ = other.listed_;
    timeOutMs_ = other.timeOutMs_;
    identityCheck_ = other.identityCheck_;
}
