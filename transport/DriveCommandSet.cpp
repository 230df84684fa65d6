#include "transport/DriveCommandSet.h"

#include <cstring>

namespace {

constexpr uint8_t InquiryOpcode = 0x12;
constexpr uint8_t ReadBufferOpcode = 0x3C;
constexpr uint8_t WriteBufferOpcode = 0x3B;

constexpr uint8_t ReadModeVendor = 0x01;    // identity block, or flash content with control 0x01
constexpr uint8_t ReadModeData = 0x02;      // what the drive received
constexpr uint8_t WriteModeCommit = 0x04;   // download microcode
constexpr uint8_t WriteModeChunk = 0x07;    // download microcode with offsets and save
constexpr uint8_t DumpControl = 0x01;

CommandDescriptorBlock Blank(uint8_t length) {
    CommandDescriptorBlock cdb;
    std::memset(&cdb, 0, sizeof cdb);
    cdb.Length = length;
    return cdb;
}

CommandDescriptorBlock Chunk(uint8_t opcode, uint8_t mode, uint8_t bufferId, uint16_t offset,
                             uint16_t length, uint8_t control) {
    CommandDescriptorBlock cdb = Blank(10);
    cdb.Bytes[0] = opcode;
    cdb.Bytes[1] = mode;
    cdb.Bytes[2] = bufferId;
    cdb.Bytes[3] = 0;
    cdb.Bytes[4] = static_cast<uint8_t>(offset >> 8);
    cdb.Bytes[5] = static_cast<uint8_t>(offset);
    cdb.Bytes[6] = 0;
    cdb.Bytes[7] = static_cast<uint8_t>(length >> 8);
    cdb.Bytes[8] = static_cast<uint8_t>(length);
    cdb.Bytes[9] = control;
    return cdb;
}

uint16_t Word(const uint8_t* bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

constexpr uint16_t DriveCommandSet::ControllerIds[3];

CommandDescriptorBlock DriveCommandSet::Inquiry(uint8_t allocationLength) {
    CommandDescriptorBlock cdb = Blank(6);
    cdb.Bytes[0] = InquiryOpcode;
    cdb.Bytes[4] = allocationLength;
    return cdb;
}

CommandDescriptorBlock DriveCommandSet::IdentityQuery(uint8_t allocationLength) {
    CommandDescriptorBlock cdb = Blank(10);
    cdb.Bytes[0] = ReadBufferOpcode;
    cdb.Bytes[1] = ReadModeVendor;
    cdb.Bytes[8] = allocationLength;
    return cdb;
}

CommandDescriptorBlock DriveCommandSet::ReadBackChunk(uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Chunk(ReadBufferOpcode, ReadModeData, bufferId, offset, length, 0x00);
}

CommandDescriptorBlock DriveCommandSet::DumpFirmwareChunk(uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Chunk(ReadBufferOpcode, ReadModeVendor, bufferId, offset, length, DumpControl);
}

CommandDescriptorBlock DriveCommandSet::WriteFirmwareChunk(uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Chunk(WriteBufferOpcode, WriteModeChunk, bufferId, offset, length, 0x00);
}

CommandDescriptorBlock DriveCommandSet::CommitFirmware() {
    CommandDescriptorBlock cdb = Blank(10);
    cdb.Bytes[0] = WriteBufferOpcode;
    cdb.Bytes[1] = WriteModeCommit;
    return cdb;
}

CommandDescriptorBlock DriveCommandSet::TestUnitReady() { return Blank(6); }

int DriveCommandSet::AcceptInquiry(const uint8_t* answer, size_t answerLength, DeviceRecord& record) {
    if (answer == nullptr || answerLength < InquiryBytesRead) return 0;
    if ((answer[0] & 0x1F) != CdRomDeviceType) return 0;
    std::memcpy(record.Vendor, answer + 8, 8);
    std::memcpy(record.Product, answer + 16, 16);
    return 1;
}

int DriveCommandSet::AcceptIdentity(const uint8_t* answer, size_t answerLength, DeviceRecord& record) {
    if (answer == nullptr || answerLength < IdentityBytesRead) return 0;
    if (Word(answer, 0) != MakerWord) return 0;
    const uint16_t controllerId = Word(answer, 2);
    const uint32_t defaultSize = DefaultFlashSize(controllerId);
    if (defaultSize == 0) return 0;

    // Written only now that both tests passed: a refused answer leaves no partial data.
    record.VersionMajor = Word(answer, 6);
    record.VersionMinor = Word(answer, 8);
    record.ControllerId = controllerId;
    const uint32_t reportedSize = static_cast<uint32_t>(Word(answer, 10)) * 1024u;
    record.FlashSize = reportedSize != 0 ? reportedSize : defaultSize;
    return 1;
}

uint32_t DriveCommandSet::DefaultFlashSize(uint16_t controllerId) {
    switch (controllerId) {
    case 0x6E15: return 0x20000;   // 128 KiB
    case 0x6E2A: return 0x80000;   // 512 KiB
    case 0x6E47: return 0x40000;   // 256 KiB
    default: return 0;
    }
}
