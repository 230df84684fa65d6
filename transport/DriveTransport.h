#pragma once

#include <cstdint>
#include <string>

#include "transport/DeviceList.h"
#include "transport/DeviceRecord.h"

// The drive-access layer as the rest of the program sees it: find drives, open one, move firmware
// chunks to and from it and make it commit. Results are plain success flags (zero = failure); no
// operation throws, shows a message or keeps an error code.
//
// Why the most recent call failed, when the access layer itself knows: the system's error number
// and the node it concerns. A failure that the drive answered, or one of a layer that keeps no
// such account, has Error 0.
struct TransportFailure {
    // What kind of failure it was, as far as the access layer can tell.
    enum class Cause : uint8_t {
        Unknown,   // the layer keeps no account, or the failure had no cause it can name
        Refused,   // the system refused the call (Error says why); nothing reached the drive
        Answered,  // the drive answered with a status other than GOOD (Status and the sense say which)
        Gone,      // the drive or its link is no longer there
        TimedOut,  // the drive gave no answer within the command's time-out
        Failed,    // the kernel or the adapter reported another error (HostStatus, DriverStatus)
        Replaced,  // another device answers where the listed drive was; no firmware command went to it
    };

    static constexpr uint8_t SenseNotReady = 0x02;
    static constexpr uint8_t SenseUnitAttention = 0x06;

    Cause Why = Cause::Unknown;
    int Error = 0;
    std::string Node;
    // Every later command on this open would fail the same way (the system refused it, the drive
    // is gone or has stopped answering), so trying again would only repeat it.
    bool Lasting = false;
    // Answered: the SCSI status and the sense key, additional sense code and qualifier.
    uint8_t Status = 0;
    uint8_t SenseKey = 0;
    uint8_t Asc = 0;
    uint8_t Ascq = 0;
    // Failed, Gone, TimedOut: what the kernel reported beside the status.
    uint16_t HostStatus = 0;
    uint16_t DriverStatus = 0;

    // The drive asks to be given time: a unit attention (reported once, gone on the next
    // command) or a logical unit that is becoming ready.
    bool WantsPause() const {
        if (Why != Cause::Answered) return false;
        return SenseKey == SenseUnitAttention || (SenseKey == SenseNotReady && Asc == 0x04 && Ascq == 0x01);
    }
};

// The chunk operations take the buffer id as 8 bits and the offset and length as 16 bits: callers
// may pass wider integers and only those low bits reach the drive.
class DriveTransport {
public:
    int Usable = 0;                // set by construction: the access layer is ready
    uint32_t AdapterCount = 0;     // SCSI ports or ASPI host adapters; bounds the scan
    DeviceRecord CurrentDevice{};  // the candidate under test, then the opened drive

    DriveTransport();
    DriveTransport(const DriveTransport&) = delete;
    DriveTransport& operator=(const DriveTransport&) = delete;

    virtual void EnumerateDevices(DeviceList& list) = 0;
    virtual int InquireDevice() = 0;
    virtual int IdentifyController() = 0;
    virtual int OpenDevice(const DeviceRecord& record) = 0;
    virtual void CloseDevice() = 0;
    virtual int ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) = 0;
    virtual int DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) = 0;
    virtual int WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) = 0;
    virtual int CommitFirmware() = 0;

    // What the access layer knows of the most recent call's failure; the pass-through and ASPI
    // layers know nothing beyond the flag.
    virtual TransportFailure LastFailure() const;

    // Deleting through this pointer runs the concrete transport's teardown (the ASPI one releases
    // its library there).
    virtual ~DriveTransport();
};
