#include "tests/support/simulated/SimulatedLinuxMachine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstring>

using emulator::EmulatedDrive;

namespace {

const std::string DevicesDirectory = "/sys/bus/scsi/devices";
constexpr uint16_t DriverSense = 0x08;

bool Writes(int flags) {
    return (flags & O_ACCMODE) != O_RDONLY;
}

}  // namespace

std::string SimulatedLinuxMachine::NameOf(const Address& address) {
    char name[64];
    std::snprintf(name, sizeof name, "%u:%u:%u:%u", address.Host, address.Channel, address.Target, address.Lun);
    return name;
}

void SimulatedLinuxMachine::AddDevice(const Address& address, int type, const std::string& block,
                                      const std::string& generic, EmulatedDrive* drive) {
    const std::string name = NameOf(address);
    Device& device = devices_[name];
    device.Where = address;
    device.TypeText = std::to_string(type) + "\n";
    device.Block = block;
    device.Generic = generic;
    device.Drive = drive;
    device.Attached = true;
    if (!block.empty()) {
        Node& node = nodes_["/dev/" + block];
        node.Generic = false;
        node.DeviceName = name;
    }
    if (!generic.empty()) {
        Node& node = nodes_["/dev/" + generic];
        node.Generic = true;
        node.DeviceName = name;
    }
}

void SimulatedLinuxMachine::AddOtherEntry(const std::string& name) {
    otherEntries_.push_back(name);
}

void SimulatedLinuxMachine::SetTypeText(const Address& address, const std::string& text) {
    devices_[NameOf(address)].TypeText = text;
}

void SimulatedLinuxMachine::DetachDevice(const Address& address) {
    const auto it = devices_.find(NameOf(address));
    if (it != devices_.end()) it->second.Attached = false;
}

void SimulatedLinuxMachine::FailList(const std::string& path, int error) {
    listFailures_[path] = error;
}

void SimulatedLinuxMachine::RemoveNode(const std::string& path) {
    nodes_.erase(path);
}

void SimulatedLinuxMachine::AddLink(const std::string& path, const std::string& target) {
    links_[path] = target;
}

void SimulatedLinuxMachine::AddPath(const std::string& path, mode_t type, dev_t number) {
    otherPaths_[path] = {type, number};
}

int SimulatedLinuxMachine::Stat(const char* path, mode_t* type, dev_t* device) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::string at = path;
    for (int hops = 0; links_.count(at) != 0; ++hops) {
        if (hops == 40) return ELOOP;
        at = links_[at];
    }
    const auto other = otherPaths_.find(at);
    if (other != otherPaths_.end()) {
        *type = other->second.Type;
        *device = other->second.Number;
        return 0;
    }
    const auto node = nodes_.find(at);
    if (node == nodes_.end()) return ENOENT;
    const size_t digits = at.find_last_not_of("0123456789") + 1;
    const unsigned minorNumber = digits < at.size() ? static_cast<unsigned>(std::stoul(at.substr(digits))) : 0;
    *type = node->second.Generic ? S_IFCHR : S_IFBLK;
    *device = makedev(node->second.Generic ? 21 : 11, minorNumber);
    return 0;
}

void SimulatedLinuxMachine::SetPermission(const std::string& path, bool readable, bool writable) {
    nodes_[path].Readable = readable;
    nodes_[path].Writable = writable;
}

void SimulatedLinuxMachine::FailOpen(const std::string& path, int error) {
    nodes_[path].OpenError = error;
}

void SimulatedLinuxMachine::FailScsi(const std::string& path, int error, uint8_t opcode) {
    nodes_[path].ScsiError = error;
    nodes_[path].ScsiErrorOpcode = opcode;
}

void SimulatedLinuxMachine::Mount(const std::string& blockPath) {
    nodes_[blockPath].Mounted = true;
}

void SimulatedLinuxMachine::HoldElsewhere(const std::string& path) {
    nodes_[path].HeldElsewhere = true;
}

void SimulatedLinuxMachine::ClearCalls() {
    scsiCalls_.clear();
    openCalls_.clear();
}

std::string SimulatedLinuxMachine::PathOf(int fd) const {
    const auto it = open_.find(fd);
    return it != open_.end() ? it->second.Path : std::string();
}

int SimulatedLinuxMachine::FlagsOf(int fd) const {
    const auto it = open_.find(fd);
    return it != open_.end() ? it->second.Flags : 0;
}

int SimulatedLinuxMachine::ListDirectory(const char* path, std::vector<std::string>& names) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    names.clear();
    const std::string wanted = path != nullptr ? path : "";
    const auto failure = listFailures_.find(wanted);
    if (failure != listFailures_.end()) return failure->second;
    if (wanted == DevicesDirectory) {
        // The kernel lists in the order devices were added, which need not be bus order.
        for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
            if (it->second.Attached) names.push_back(it->first);
        }
        for (const std::string& other : otherEntries_) names.push_back(other);
        return 0;
    }
    const std::string prefix = DevicesDirectory + "/";
    if (wanted.compare(0, prefix.size(), prefix) != 0) return ENOENT;
    const std::string rest = wanted.substr(prefix.size());
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) return ENOTDIR;
    const auto device = devices_.find(rest.substr(0, slash));
    if (device == devices_.end() || !device->second.Attached) return ENOENT;
    const std::string entry = rest.substr(slash + 1);
    const std::string& node = entry == "block" ? device->second.Block
                              : entry == "scsi_generic" ? device->second.Generic
                                                        : std::string();
    if (node.empty()) return ENOENT;
    names.push_back(node);
    return 0;
}

int SimulatedLinuxMachine::ReadAttribute(const char* path, char* text, size_t room, size_t* length) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string wanted = path != nullptr ? path : "";
    const std::string prefix = DevicesDirectory + "/";
    const std::string suffix = "/type";
    if (wanted.size() <= prefix.size() + suffix.size() || wanted.compare(0, prefix.size(), prefix) != 0 ||
        wanted.compare(wanted.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return ENOENT;
    }
    const std::string name = wanted.substr(prefix.size(), wanted.size() - prefix.size() - suffix.size());
    const auto device = devices_.find(name);
    if (device == devices_.end() || !device->second.Attached) return ENOENT;
    const std::string& value = device->second.TypeText;
    const size_t copied = value.size() < room ? value.size() : room;
    std::memcpy(text, value.data(), copied);
    *length = copied;
    return 0;
}

bool SimulatedLinuxMachine::ClaimedByUs(const std::string& path) const {
    for (const auto& entry : open_) {
        if (entry.second.Path == path && (entry.second.Flags & O_EXCL) != 0) return true;
    }
    return false;
}

int SimulatedLinuxMachine::Open(const char* path, int flags, int* fd) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    openCalls_.push_back({path != nullptr ? path : "", flags, 0});
    OpenCall& call = openCalls_.back();
    const auto it = nodes_.find(call.Path);
    if (it == nodes_.end()) return call.Error = ENOENT;
    const Node& node = it->second;
    if (node.OpenError != 0) return call.Error = node.OpenError;
    if (!root_ && (!node.Readable || (Writes(flags) && !node.Writable))) return call.Error = EACCES;
    const auto device = devices_.find(node.DeviceName);
    if (device == devices_.end() || !device->second.Attached) return call.Error = node.Generic ? ENODEV : ENXIO;
    if ((flags & O_EXCL) != 0) {
        if (node.Generic && !Writes(flags)) return call.Error = EPERM;
        if (node.Mounted || node.HeldElsewhere || ClaimedByUs(call.Path)) return call.Error = EBUSY;
    }
    // The CD-ROM driver opens a block node for reading data unless told O_NONBLOCK, and that needs
    // a disc.
    const emulator::EmulatedDrive* drive = device->second.Drive;
    if (!node.Generic && (flags & O_NONBLOCK) == 0 && drive != nullptr && !drive->MediumLoaded()) {
        return call.Error = ENOMEDIUM;
    }
    *fd = nextFd_++;
    open_[*fd] = {call.Path, flags};
    ++opened_;
    return 0;
}

int SimulatedLinuxMachine::Close(int fd) {
    const std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (open_.erase(fd) == 0) {
        ++badCloses_;
        return EBADF;
    }
    ++closed_;
    return 0;
}

bool SimulatedLinuxMachine::HarmlessCommand(uint8_t opcode) {
    // Of the block layer's list, what a drive of the family is asked: TEST UNIT READY, REQUEST
    // SENSE, INQUIRY, READ BUFFER.
    return opcode == 0x00 || opcode == 0x03 || opcode == 0x12 || opcode == 0x3C;
}

int SimulatedLinuxMachine::SendScsi(int fd, sg_io_hdr_t* header) {
    uint32_t latencyUs = 0;
    int error = 0;
    {
        const std::lock_guard<std::recursive_mutex> lock(mutex_);
        error = SendScsiLocked(fd, header, latencyUs);
    }
    // The drive takes its time outside the machine's lock, as drives on their own links do.
    if (latencyUs != 0) {
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::microseconds(latencyUs));
        driveUs_ += static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
    }
    return error;
}

int SimulatedLinuxMachine::SendScsiLocked(int fd, sg_io_hdr_t* header, uint32_t& latencyUs) {
    scsiCalls_.emplace_back();
    ScsiCall& call = scsiCalls_.back();
    const auto descriptor = open_.find(fd);
    if (descriptor == open_.end()) return call.Error = EBADF;
    call.Node = descriptor->second.Path;
    if (header == nullptr) return call.Error = EFAULT;
    if (header->cmdp != nullptr && header->cmd_len <= 16) call.Cdb.assign(header->cmdp, header->cmdp + header->cmd_len);
    const auto node = nodes_.find(call.Node);
    if (node == nodes_.end()) {
        call.Header = *header;
        return call.Error = ENODEV;
    }
    int refused = BeforeCommand ? BeforeCommand(call.Cdb) : 0;
    if (refused == 0 && BeforeCommandOn) refused = BeforeCommandOn(call.Node, call.Cdb);
    if (refused != 0) {
        call.Header = *header;
        return call.Error = refused;
    }
    call.Error = Execute(node->second, descriptor->second, *header);
    call.Header = *header;
    const auto device = devices_.find(node->second.DeviceName);
    if (call.Error == 0 && device != devices_.end() && device->second.Drive != nullptr) {
        latencyUs = device->second.Drive->LatencyMicroseconds();
    }
    return call.Error;
}

int SimulatedLinuxMachine::Execute(const Node& node, const Descriptor& descriptor, sg_io_hdr_t& header) {
    // The sg driver and the block layer check the header each their own way.
    if (header.interface_id != 'S') return node.Generic ? ENOSYS : EINVAL;
    if (header.cmd_len < 6 || header.cmd_len > 16 || header.cmdp == nullptr) return EINVAL;
    if (node.ScsiError != 0 && (node.ScsiErrorOpcode == 0 || node.ScsiErrorOpcode == header.cmdp[0])) {
        return node.ScsiError;
    }
    const auto device = devices_.find(node.DeviceName);
    if (device == devices_.end() || !device->second.Attached) return node.Generic ? ENODEV : ENXIO;
    const bool filtered = !node.Generic || !Writes(descriptor.Flags);
    if (filtered && !root_ && !HarmlessCommand(header.cmdp[0])) return EPERM;

    EmulatedDrive::Request request;
    switch (header.dxfer_direction) {
    case SG_DXFER_NONE: request.direction = EmulatedDrive::Direction::None; break;
    case SG_DXFER_TO_DEV: request.direction = EmulatedDrive::Direction::Out; break;
    case SG_DXFER_FROM_DEV: request.direction = EmulatedDrive::Direction::In; break;
    default: return EINVAL;
    }
    if (header.dxfer_len != 0 && header.dxferp == nullptr) return EFAULT;
    request.cdb = header.cmdp;
    request.cdbLength = header.cmd_len;
    request.data = static_cast<uint8_t*>(header.dxferp);
    request.dataLength = request.direction == EmulatedDrive::Direction::None ? 0 : header.dxfer_len;
    request.sense = header.sbp;
    request.senseLength = header.sbp != nullptr ? header.mx_sb_len : 0;

    EmulatedDrive::Result result;
    if (forced_.Active && forced_.Unanswered) {
        ApplyForced(header);
        return 0;
    }
    if (device->second.Drive != nullptr) {
        result = device->second.Drive->Execute(request);
    } else {
        result.status = EmulatedDrive::StatusCheckCondition;
    }
    header.status = result.status;
    header.masked_status = static_cast<unsigned char>(result.status >> 1);
    header.msg_status = 0;
    header.sb_len_wr = static_cast<unsigned char>(result.senseWritten);
    header.host_status = 0;
    header.driver_status = result.status == EmulatedDrive::StatusCheckCondition ? DriverSense : 0;
    header.resid = static_cast<int>(request.dataLength - result.transferred);
    header.duration = 0;
    if (forced_.Active) ApplyForced(header);
    const bool noisy = header.status != 0 || header.host_status != 0 || header.driver_status != 0;
    header.info = noisy ? SG_INFO_CHECK : SG_INFO_OK;
    return 0;
}

void SimulatedLinuxMachine::ApplyForced(sg_io_hdr_t& header) const {
    header.status = forced_.Status;
    header.masked_status = static_cast<unsigned char>(forced_.Status >> 1);
    header.host_status = forced_.HostStatus;
    header.driver_status = forced_.DriverStatus;
    if (forced_.ResidGiven) header.resid = forced_.Resid;
    if (forced_.Unanswered) header.resid = static_cast<int>(header.dxfer_len);
    if (forced_.SenseKey != 0 && header.sbp != nullptr && header.mx_sb_len >= 18) {
        uint8_t* sense = header.sbp;
        std::memset(sense, 0, 18);
        if (forced_.DescriptorSense) {
            // The header and one 10-byte descriptor (information), as long as fixed sense.
            sense[0] = 0x72;
            sense[1] = forced_.SenseKey;
            sense[2] = forced_.Asc;
            sense[3] = forced_.Ascq;
            sense[7] = 10;
            sense[8] = 0x00;
            sense[9] = 0x0A;
            header.sb_len_wr = 18;
        } else {
            sense[0] = 0x70;
            sense[2] = forced_.SenseKey;
            sense[7] = 10;
            sense[12] = forced_.Asc;
            sense[13] = forced_.Ascq;
            header.sb_len_wr = 18;
        }
        header.driver_status = static_cast<unsigned short>(header.driver_status | DriverSense);
    }
    const bool noisy = header.status != 0 || header.host_status != 0 || header.driver_status != 0;
    header.info = noisy ? SG_INFO_CHECK : SG_INFO_OK;
}
