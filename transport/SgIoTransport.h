#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport/DriveCommandSet.h"
#include "transport/DriveTransport.h"
#include "transport/LinuxScsiApi.h"
#include "transport/ScopedHandle.h"

// The drive-access layer of Linux: finds CD/DVD drives among the SCSI devices of sysfs and sends
// each command as one SG_IO on a device node.
//
// The scan lists a drive by its block node /dev/srN (the name a user knows), or by its generic
// node /dev/sgN when it has no block node. An open drive is held and spoken to differently:
//   - the block node is opened with O_EXCL, which claims the block device as a mount does, so a
//     mounted drive or one held by a burning program is refused before anything is sent to it;
//   - the commands go through the generic node, opened read/write with O_EXCL. The block layer
//     lets only CAP_SYS_RAWIO send firmware commands through /dev/srN, whereas the sg driver lets
//     any read/write opener through, so the group of the node is enough and the upgrade need not
//     run as root. Its O_EXCL keeps out other SCSI programs that open the node exclusively.
// Without a generic node (no sg driver) the commands go through the block node. Once both are
// held, the drive is asked who it is (INQUIRY, the identity query) and must answer as it did to
// the scan: between the two, another drive may have been plugged in at the same place.
//
// Linux numbers hosts, channels and targets with 32 bits (a host number grows with every re-plug
// and iSCSI login); the transport keeps each listed drive's whole address and nodes, the record
// what its 8-bit fields hold.
//
// Beyond the shared interface it tells what the environment refused: the errno of the last
// failed call and the node it concerns, the nodes the scan could not open, and whether a write
// would be refused for want of privilege, so that the front-end can name what is needed.
class SgIoTransport final : public DriveTransport {
public:
    static constexpr const char* DevicesDirectory = "/sys/bus/scsi/devices";
    // The room given for each answer is what the command asks for: an adapter may refuse a
    // buffer larger than the command can fill (qemu's paravirtual one ends it with DID_ERROR).
    static constexpr uint32_t InquiryTransferLength = DriveCommandSet::PassThroughAllocationLength;
    static constexpr uint32_t IdentityTransferLength = DriveCommandSet::PassThroughAllocationLength;
    static constexpr uint8_t SenseRequested = 24;
    // A command's time-out unless SetTimeOut gives another: that of the other transports.
    static constexpr uint32_t TimeOutMilliseconds = 256 * 1000;
    // The kernel's host status for a device it has lost (DID_NO_CONNECT, DID_BAD_TARGET,
    // DID_TRANSPORT_FAILFAST) and for a command it gave up waiting for (DID_TIME_OUT), and its
    // driver status of a time-out (DRIVER_TIMEOUT).
    static constexpr uint16_t HostNoConnect = 0x01;
    static constexpr uint16_t HostTimeOut = 0x03;
    static constexpr uint16_t HostBadTarget = 0x04;
    static constexpr uint16_t HostTransportFailFast = 0x0F;
    static constexpr uint16_t DriverTimeOut = 0x06;
    static constexpr uint8_t CdRomType = 5;
    // The flags of every open; the hold and the command node of an open drive add O_EXCL.
    static int ScanOpenFlags();
    static int HoldOpenFlags();

    // Where a SCSI device sits as sysfs names it ("H:C:T:L"): each number as wide as the
    // kernel's. A device record keeps 8 bits of each; the transport keeps these for the drives
    // it listed.
    struct ScsiAddress {
        uint32_t Host = 0, Channel = 0, Target = 0, Lun = 0;
    };

    // What a path given for a drive turned out to be.
    enum class PathIs {
        ListedDrive,   // a block or generic node of a listed drive (links followed)
        Missing,       // no such file
        NotADevice,    // a file, a folder: no device node
        OtherDevice,   // a device node, but of none of the listed drives
        Unreadable,    // stat failed otherwise (the errno says why)
    };

    struct Nodes {
        std::string Block;    // "/dev/sr0", empty when the device has none
        std::string Generic;  // "/dev/sg0", empty when the device has none
    };

    struct ScanFailure {
        std::string Node;
        int Error;
    };

    // One SG_IO as it went: for a trace of every command.
    struct Exchanged {
        const CommandDescriptorBlock& Cdb;
        int Direction;               // SG_DXFER_NONE, _TO_DEV or _FROM_DEV
        const uint8_t* Data;         // the caller's buffer (what was sent, or what arrived)
        uint32_t Length;             // its length
        int Error;                   // the ioctl's errno, 0 when the kernel carried the command
        const sg_io_hdr_t& Header;   // the outcome, valid when Error is 0
        const uint8_t* Sense;        // Header.sb_len_wr bytes
    };
    class Observer {
    public:
        virtual void CommandDone(const Exchanged& command) = 0;

    protected:
        ~Observer() = default;
    };

    // Usable when the SCSI devices of sysfs can be listed; AdapterCount is the number of hosts
    // among them.
    explicit SgIoTransport(LinuxScsiApi& scsi);
    ~SgIoTransport() override;

    // The node that carries the commands, from the scan's open or OpenDevice to the close; -1
    // otherwise.
    int CommandFd = -1;
    // The block node held exclusively while the commands go through the generic node; -1 otherwise.
    int HoldFd = -1;

    void EnumerateDevices(DeviceList& list) override;
    int InquireDevice() override;
    int IdentifyController() override;
    int OpenDevice(const DeviceRecord& record) override;
    void CloseDevice() override;
    int ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) override;
    int CommitFirmware() override;
    TransportFailure LastFailure() const override;

    // The time each command may take before the kernel gives up on it (and the drive with it).
    void SetTimeOut(uint32_t milliseconds) { timeOutMs_ = milliseconds; }
    uint32_t TimeOut() const { return timeOutMs_; }
    // Told of every SG_IO after it returns; nullptr for none.
    void SetObserver(Observer* observer) { observer_ = observer; }
    // The sense key, additional sense code and qualifier of LENGTH bytes of sense data in fixed
    // (70h, 71h) or descriptor (72h, 73h) format; false when they hold neither.
    static bool ParseSense(const uint8_t* sense, size_t length, uint8_t& key, uint8_t& asc, uint8_t& ascq);
    // TEST UNIT READY on the open drive: 1 when it answered GOOD (LastFailure says otherwise why).
    int TestUnitReady();

    // The errno of the most recent open or SG_IO when the system refused it (0: none), and the
    // node it concerns. A command that reached the drive, answered or not, leaves 0.
    int LastError() const { return last_.Error; }
    const std::string& LastErrorNode() const { return last_.Node; }
    // The candidates of the last scan whose node could not be opened, in scan order.
    const std::vector<ScanFailure>& ScanFailures() const { return scanFailures_; }
    // The nodes of the device at RECORD's address (AddressOf) as sysfs has them now; 0 or the errno.
    int FindNodes(const DeviceRecord& record, Nodes& nodes);
    // The address of RECORD as the last scan found it; the record's own 8-bit fields for a
    // record that no scan of this transport listed.
    ScsiAddress AddressOf(const DeviceRecord& record) const;
    // Which drive of LIST (records of this transport's last scan) PATH names: its position
    // into *POSITION for ListedDrive, the errno of stat into *ERROR for Unreadable.
    PathIs FindByPath(const std::string& path, const DeviceList& list, size_t* position, int* error);
    // The system this transport speaks to, for another transport over it.
    LinuxScsiApi& Scsi() const { return scsi_; }
    // Takes the drives OTHER listed and its settings (time-out, identity check), so that this
    // transport can open and address them as OTHER would: a drive of several each gets a
    // transport of its own.
    void TakeListing(const SgIoTransport& other);
    // When on (the default), OpenDevice asks the drive for its identification once it holds it
    // and refuses one that answers otherwise than the listed record: another drive may have
    // taken the place since the scan. Off where the answer may rightly differ (after a commit).
    void SetIdentityCheck(bool on) { identityCheck_ = on; }
    // After an OpenDevice refused with Replaced: what the device answered (its vendor, product
    // and, when ReplacementOfFamily(), its controller, version and flash size).
    const DeviceRecord& Replacement() const { return replacement_; }
    bool ReplacementOfFamily() const { return replacementOfFamily_; }
    // EPERM when writing firmware to RECORD's drive would be refused for want of privilege
    // (its commands would go through a block node without CAP_SYS_RAWIO); NODE then names it.
    // Sends nothing, opens nothing.
    int WriteRefusal(const DeviceRecord& record, std::string& node);

private:
    // A drive of the last scan: the node it was listed under, its address and nodes.
    struct Listed {
        std::string Node;
        ScsiAddress Where;
        Nodes Found;
    };

    static bool ParseAddress(const std::string& name, ScsiAddress& address);
    static std::string DeviceDirectory(const ScsiAddress& address);
    const Listed* ListedAs(const DeviceRecord& record) const;
    int FindNodesAt(const ScsiAddress& address, Nodes& nodes);
    bool IsCdRomDevice(const ScsiAddress& address);
    // Whether the open drive answers INQUIRY and the identity query as the listed one did; on
    // false, LastFailure says why (Replaced: it answered otherwise, see Replacement()).
    bool AnswersAsListed();
    // Holds the block node and opens the node that carries the commands; false with the failure.
    bool OpenNodes(const Nodes& nodes);
    // Whether PATH's device number is that of NODE (the same kind of node, the same number).
    bool SameDevice(const std::string& node, mode_t type, dev_t device);
    // The one node name below DIRECTORY ("sr0") as "/dev/sr0"; 0 or the errno.
    int NodeBelow(const std::string& directory, std::string& node);
    void ExamineCandidate(const ScsiAddress& address, DeviceList& list);
    void Fail(int error, const std::string& node);
    // What HEADER of a command the kernel carried says of its failure.
    void Judge(const sg_io_hdr_t& header, const uint8_t* sense);
    void CloseAll();
    // One SG_IO; 1 when the kernel carried it (HEADER then holds the outcome).
    int Exchange(const CommandDescriptorBlock& cdb, int direction, uint8_t* buffer, uint32_t length,
                 sg_io_hdr_t& header);
    static bool Completed(const sg_io_hdr_t& header);
    int Send(const CommandDescriptorBlock& cdb, int direction, uint8_t* buffer, uint32_t length,
             bool wholeLengthNeeded);
    int SendAnswered(const CommandDescriptorBlock& cdb, uint8_t* answer, uint32_t room, bool statusNeeded,
                     size_t& received);

    // Descriptors are closed through the seam that opened them.
    struct DescriptorTraits {
        using Handle = int;
        static constexpr Handle Invalid = -1;
        LinuxScsiApi& Scsi;
        void Close(Handle fd) const { Scsi.Close(fd); }
    };

    LinuxScsiApi& scsi_;
    // The holders of CommandFd and HoldFd.
    ScopedHandle<DescriptorTraits> command_;
    ScopedHandle<DescriptorTraits> hold_;
    std::string commandNode_;
    TransportFailure last_;
    // The failure that every later command of this open meets at once, when refused_ is set.
    TransportFailure lasting_;
    // Set when the kernel refused a command for want of privilege, or the drive is gone or has
    // stopped answering: every later command on this open would fail too, so none is sent before
    // the next OpenDevice.
    bool refused_ = false;
    uint32_t timeOutMs_ = TimeOutMilliseconds;
    Observer* observer_ = nullptr;
    std::vector<ScanFailure> scanFailures_;
    std::vector<Listed> listed_;
    bool identityCheck_ = true;
    DeviceRecord replacement_{};
    bool replacementOfFamily_ = false;
};
