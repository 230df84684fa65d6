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
    int Error = 0;
    std::string Node;
    // Every later command on this open would fail the same way (the system refused it), so
    // trying again would only repeat the refusal.
    bool Lasting = false;
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
