#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/DeviceRecord.h"

// A SCSI command descriptor block of 6 or 10 bytes. The CDBs carry no address: the transport's
// request does, so the old LUN bits of byte 1 stay zero.
struct CommandDescriptorBlock {
    uint8_t Bytes[10];
    uint8_t Length;
};

// What the tool says to a drive and how it judges the answers, once for both transports.
//
//   INQUIRY                      12 00 00 00 AL 00
//   identity query (READ BUFFER) 3C 01 00 00 00 00 00 00 AL 00     mode 1, buffer 0, offset 0
//   read-back (READ BUFFER)      3C 02 ID 00 OH OL 00 LH LL 00     mode 2: data received
//   dump (READ BUFFER)           3C 01 ID 00 OH OL 00 LH LL 01     mode 1, control 0x01: flash
//   chunk (WRITE BUFFER)         3B 07 ID 00 OH OL 00 LH LL 00     mode 7: with offsets, saved
//   commit (WRITE BUFFER)        3B 04 00 00 00 00 00 00 00 00     mode 4, no data
//
// Offsets and lengths are the standard 24-bit big-endian fields with their top byte always zero,
// so one command reaches 64 KiB into a buffer; the buffer id selects the 64 KiB window.
class DriveCommandSet {
public:
    // The two transports ask for different answer sizes: ASPI hands the drive a 100-byte buffer,
    // pass-through asks for 192 bytes.
    static constexpr uint8_t AspiAllocationLength = 100;
    static constexpr uint8_t PassThroughAllocationLength = 192;

    static constexpr uint8_t CdRomDeviceType = 0x05;
    static constexpr uint16_t MakerWord = 0x4A7C;
    static constexpr uint16_t ControllerIds[3] = {0x6E15, 0x6E2A, 0x6E47};

    // Bytes of the answers that the judges read; shorter answers are refused.
    static constexpr size_t InquiryBytesRead = 32;
    static constexpr size_t IdentityBytesRead = 12;

    static CommandDescriptorBlock Inquiry(uint8_t allocationLength);
    static CommandDescriptorBlock IdentityQuery(uint8_t allocationLength);
    static CommandDescriptorBlock ReadBackChunk(uint8_t bufferId, uint16_t offset, uint16_t length);
    static CommandDescriptorBlock DumpFirmwareChunk(uint8_t bufferId, uint16_t offset, uint16_t length);
    static CommandDescriptorBlock WriteFirmwareChunk(uint8_t bufferId, uint16_t offset, uint16_t length);
    static CommandDescriptorBlock CommitFirmware();
    // Whether the drive is ready for commands; asked after a commit, while the drive restarts.
    static CommandDescriptorBlock TestUnitReady();

    // Judges of the INQUIRY answer: a CD/DVD device (type 5 in bits 0-4, qualifier ignored) has
    // its vendor and product texts copied byte for byte, blanks kept, the NULs left alone.
    // Non-zero on acceptance; a refused answer leaves the record untouched.
    static int AcceptInquiry(const uint8_t* answer, size_t answerLength, DeviceRecord& record);

    // Judge of the identity answer (little-endian words): maker word, one of the three controller
    // ids, version major and minor, flash size in KiB with 0 meaning the controller's default.
    // Non-zero on acceptance; a refused answer leaves the record untouched.
    static int AcceptIdentity(const uint8_t* answer, size_t answerLength, DeviceRecord& record);

    // Flash size of a controller whose identity answer gives size 0; 0 for an unknown controller.
    static uint32_t DefaultFlashSize(uint16_t controllerId);
};
