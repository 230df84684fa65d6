#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "transport/LinuxScsiApi.h"

// A Linux machine as the SG_IO transport sees it, for tests: the SCSI devices of sysfs with their
// "type" attribute and their block and generic nodes, device nodes with permissions and the
// kernel's exclusivity rules, and SG_IO answered by EmulatedDrives on the caller's own memory.
//
// What the kernel does and the simulation keeps (kernel 6.1, measured in a guest):
//   - an open without read (and, for O_RDWR, write) permission fails with EACCES; root passes;
//   - /dev/srN with O_EXCL claims the block device: a second claim or a mount gives EBUSY, plain
//     opens still succeed;
//   - /dev/sgN with O_EXCL needs O_RDWR (EPERM otherwise) and excludes other exclusive openers;
//   - the two claims are independent of each other;
//   - /dev/srN opened without O_NONBLOCK needs a disc in the drive (ENOMEDIUM otherwise);
//   - through a block node, and through a generic node opened read-only, a caller without
//     CAP_SYS_RAWIO may send only the harmless commands (INQUIRY, READ BUFFER and the like):
//     WRITE BUFFER fails with EPERM before it reaches the drive.
// Every call is logged, and descriptors are counted so that a test can see each one closed. The
// calls of the seam may come from several threads at once (one per drive); a drive's latency
// (EmulatedDrive::LatencyMicroseconds) is waited after its command, outside the machine's lock.
class SimulatedLinuxMachine final : public LinuxScsiApi {
public:
    struct Address {
        unsigned Host = 0, Channel = 0, Target = 0, Lun = 0;
    };

    // One SG_IO as the caller handed it over, and what the machine answered.
    struct ScsiCall {
        std::string Node;
        sg_io_hdr_t Header{};          // as returned; its pointers are the caller's
        std::vector<uint8_t> Cdb;      // cmd_len bytes read through cmdp
        int Error = 0;
    };

    struct OpenCall {
        std::string Path;
        int Flags = 0;
        int Error = 0;
    };

    // The outcome the next SG_IOs report instead of the drive's (a transport in trouble).
    struct ForcedOutcome {
        bool Active = false;
        uint8_t Status = 0;
        uint16_t HostStatus = 0;
        uint16_t DriverStatus = 0;
        bool ResidGiven = false;
        int Resid = 0;
        // The command never reaches the drive (one the kernel gave up waiting for, a link lost).
        bool Unanswered = false;
        // With Status 02h: the fixed-format sense that comes with it.
        uint8_t SenseKey = 0;
        uint8_t Asc = 0;
        uint8_t Ascq = 0;
        bool DescriptorSense = false;   // the sense in descriptor format (72h) rather than fixed
    };

    // Asked before each SG_IO that reaches a node, with its CDB: 0 lets it through, an errno
    // fails the call with it (a signal's EINTR, a node gone with ENODEV). It may change the
    // machine (Force, DetachDevice) for this very command.
    std::function<int(const std::vector<uint8_t>& cdb)> BeforeCommand;
    // The same with the node the command goes to ("/dev/sg3"), for a machine of several drives;
    // asked after BeforeCommand.
    std::function<int(const std::string& node, const std::vector<uint8_t>& cdb)> BeforeCommandOn;

    // sysfs. A device gets "/sys/bus/scsi/devices/H:C:T:L" with "type" and, for each node name
    // given ("sr0", "sg0"), its "block" or "scsi_generic" entry and the node /dev/NAME.
    void AddDevice(const Address& address, int type, const std::string& block, const std::string& generic,
                   emulator::EmulatedDrive* drive);
    // A name beside the devices that is none ("host0", "target0:0:0").
    void AddOtherEntry(const std::string& name);
    void SetTypeText(const Address& address, const std::string& text);
    // The device leaves sysfs; its nodes stay and answer as the kernel does for a detached device.
    void DetachDevice(const Address& address);
    void FailList(const std::string& path, int error);

    // Nodes, by path ("/dev/sr0"). A block node has device number 11:N, a generic one 21:N,
    // N the digits of its name, as the kernel numbers them.
    void RemoveNode(const std::string& path);
    // PATH leads to TARGET as a symbolic link does (stat follows it, links of links too).
    void AddLink(const std::string& path, const std::string& target);
    // PATH is something else than a drive's node: a file (S_IFREG), a folder (S_IFDIR) or another
    // device node (S_IFBLK, S_IFCHR with its NUMBER); stat alone sees it.
    void AddPath(const std::string& path, mode_t type, dev_t number = 0);
    void SetPermission(const std::string& path, bool readable, bool writable);
    void FailOpen(const std::string& path, int error);
    // The next SG_IOs on PATH fail with ERROR (0 stops it); with OPCODE, only those of that command.
    void FailScsi(const std::string& path, int error, uint8_t opcode = 0);
    void Mount(const std::string& blockPath);
    // Another process holds PATH with O_EXCL.
    void HoldElsewhere(const std::string& path);
    void SetRoot(bool root) { root_ = root; }
    void Force(const ForcedOutcome& outcome) { forced_ = outcome; }

    const std::vector<ScsiCall>& ScsiCalls() const { return scsiCalls_; }
    const std::vector<OpenCall>& OpenCalls() const { return openCalls_; }
    void ClearCalls();
    int OpenDescriptors() const { return static_cast<int>(open_.size()); }
    // The time the drives' latencies took, as measured around each wait, summed over the drives.
    uint64_t DriveMicroseconds() const { return driveUs_; }
    int Opened() const { return opened_; }
    int Closed() const { return closed_; }
    int BadCloses() const { return badCloses_; }
    // The path and flags of an open descriptor; empty path when FD is not open.
    std::string PathOf(int fd) const;
    int FlagsOf(int fd) const;

    int ListDirectory(const char* path, std::vector<std::string>& names) override;
    int ReadAttribute(const char* path, char* text, size_t room, size_t* length) override;
    int Open(const char* path, int flags, int* fd) override;
    int Stat(const char* path, mode_t* type, dev_t* device) override;
    int SendScsi(int fd, sg_io_hdr_t* header) override;
    int Close(int fd) override;
    bool MaySendAnyCommand() override { return root_; }

private:
    struct Device {
        Address Where;
        std::string TypeText;
        std::string Block;
        std::string Generic;
        emulator::EmulatedDrive* Drive = nullptr;
        bool Attached = true;
    };
    struct Node {
        bool Generic = false;
        std::string DeviceName;   // key of devices_
        bool Readable = true;
        bool Writable = true;
        int OpenError = 0;
        int ScsiError = 0;
        uint8_t ScsiErrorOpcode = 0;  // 0: every command
        bool Mounted = false;
        bool HeldElsewhere = false;
    };
    struct Descriptor {
        std::string Path;
        int Flags;
    };

    static std::string NameOf(const Address& address);
    static bool HarmlessCommand(uint8_t opcode);
    bool ClaimedByUs(const std::string& path) const;
    int Execute(const Node& node, const Descriptor& descriptor, sg_io_hdr_t& header);
    // SendScsi under the lock; the drive's latency into LATENCYUS.
    int SendScsiLocked(int fd, sg_io_hdr_t* header, uint32_t& latencyUs);
    void ApplyForced(sg_io_hdr_t& header) const;

    // Recursive: BeforeCommand, run under it, may change the machine.
    std::recursive_mutex mutex_;
    std::map<std::string, Device> devices_;   // "H:C:T:L"
    std::vector<std::string> otherEntries_;
    std::map<std::string, int> listFailures_;
    std::map<std::string, Node> nodes_;       // "/dev/sr0"
    std::map<std::string, std::string> links_;
    struct OtherPath {
        mode_t Type;
        dev_t Number;
    };
    std::map<std::string, OtherPath> otherPaths_;
    std::map<int, Descriptor> open_;
    int nextFd_ = 3;
    bool root_ = true;
    ForcedOutcome forced_;

    std::vector<ScsiCall> scsiCalls_;
    std::vector<OpenCall> openCalls_;
    int opened_ = 0;
    int closed_ = 0;
    int badCloses_ = 0;
    std::atomic<uint64_t> driveUs_{0};
};
