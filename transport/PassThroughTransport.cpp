#include "transport/PassThroughTransport.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "transport/OsVersionInfo.h"

namespace {

using Api = NtStorageApi;

const char ScsiMapKey[] = "Hardware\\DeviceMap\\Scsi";
const char CdRomType[] = "CdRomPeripheral";
const char IdePorts[2][24] = {"\\Device\\Ide\\IdePort0", "\\Device\\Ide\\IdePort1"};

constexpr size_t KeyPathRoom = 512;
constexpr size_t PortNameRoom = 128;
constexpr uint32_t TypeRoom = 64;
constexpr size_t DeviceNameRoom = 128;
constexpr uint32_t DeviceNameLimit = 64;
constexpr size_t LetterRoom = 64;
constexpr size_t OpenPathRoom = 64;

constexpr uint32_t WindowsTwoThousand = 5;

static_assert(LetterRoom == sizeof(DeviceRecord::DosDeviceName), "the letter buffer is copied whole");
static_assert(PassThroughTransport::InquiryTransferLength == sizeof(PassThroughCommandArea::Data),
              "INQUIRY fills the whole data area");

// What the buffered commands hand the port driver: INQUIRY only the request, the identity query
// the request and the sense area; both get the data area's room after the sense area back.
constexpr uint32_t InquiryInputLength = sizeof(ScsiPassThrough);
constexpr uint32_t IdentityInputLength = offsetof(PassThroughCommandArea, Data);
constexpr uint32_t BufferedOutputLength(uint32_t transferLength) {
    return static_cast<uint32_t>(offsetof(PassThroughCommandArea, Data)) + transferLength;
}

#if defined(__i386__) || defined(_M_IX86)
// The lengths the 32-bit program passes, as NT's port drivers have always received them.
static_assert(InquiryInputLength == 44 && BufferedOutputLength(PassThroughTransport::InquiryTransferLength) == 592,
              "INQUIRY envelope: 44 bytes in, 592 out");
static_assert(IdentityInputLength == 80 && BufferedOutputLength(PassThroughTransport::IdentityTransferLength) == 272,
              "identity envelope: 80 bytes in, 272 out");
static_assert(sizeof(DirectCommandArea) == 80, "direct envelope: 80 bytes in and out");
#endif

// 0 when the text would not fit: a cut name could open or match something else.
__attribute__((format(printf, 3, 4))) int Format(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int needed = std::vsnprintf(buffer, size, format, args);
    va_end(args);
    return needed >= 0 && static_cast<size_t>(needed) < size ? 1 : 0;
}

// memchr rather than strnlen: the program must load on Windows versions whose C runtime lacks it.
size_t BoundedLength(const char* text, size_t room) {
    const void* end = std::memchr(text, '\0', room);
    return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : room;
}

// The first string of a QueryDosDevice answer, or null when the answer holds none within what
// the call says it stored.
const char* FirstTarget(const char* answer, uint32_t stored, size_t room) {
    if (stored == 0 || stored > room) return nullptr;
    return BoundedLength(answer, stored) < stored ? answer : nullptr;
}

int TwoThousandOrLater() { return OsVersionInfo.dwMajorVersion >= WindowsTwoThousand ? 1 : 0; }

// The scan reads the bus count and one bus's unit count, nothing of the unit chains: what a port
// says of its units (offsets, lengths, links) cannot keep a drive off the list. Every bus entry
// the count can name lies inside the buffer.
static_assert(offsetof(ScsiAdapterBusInfo, BusData) + 255 * sizeof(ScsiBusData) <=
                  PassThroughTransport::InquiryDataBufferSize,
              "every bus entry lies inside the inquiry data");

ScsiBusData BusEntry(const uint8_t* inquiryData, unsigned bus) {
    ScsiBusData entry;
    std::memcpy(&entry, inquiryData + offsetof(ScsiAdapterBusInfo, BusData) + bus * sizeof(ScsiBusData), sizeof entry);
    return entry;
}

// A bus that the adapter did not report has no units.
uint32_t UnitCount(const uint8_t* inquiryData, unsigned bus) {
    if (bus >= inquiryData[offsetof(ScsiAdapterBusInfo, NumberOfBuses)]) return 0;
    return BusEntry(inquiryData, bus).NumberOfLogicalUnits;
}

template <typename Request>
void FillEnvelope(Request& request, const DeviceRecord& device, const CommandDescriptorBlock& cdb, uint8_t dataIn,
                  uint32_t transferLength, size_t senseOffset) {
    request.Length = sizeof(Request);
    // No port: the handle is the drive's, and the port driver knows where that drive sits.
    request.PathId = device.PathId;
    request.TargetId = device.TargetId;
    request.Lun = device.Lun;
    request.CdbLength = cdb.Length;
    request.SenseInfoLength = PassThroughTransport::SenseRequested;
    request.DataIn = dataIn;
    request.DataTransferLength = transferLength;
    request.TimeOutValue = PassThroughTransport::TimeOutSeconds;
    request.SenseInfoOffset = static_cast<uint32_t>(senseOffset);
    std::memcpy(request.Cdb, cdb.Bytes, cdb.Length);
}

}  // namespace

PassThroughTransport::PassThroughTransport(NtStorageApi& storage) : storage_(storage) {
    KeyHolder map(KeyTraits{storage_});
    if (OpenForReading(ScsiMapKey, map) == Api::ErrorSuccess) {
        uint32_t ports = 0;
        if (storage_.QueryKeyInfo(map.Get(), &ports) == Api::ErrorSuccess) {
            AdapterCount = ports;
            Usable = 1;
        }
    }
    ClearDeviceRecord(CurrentDevice);
}

PassThroughTransport::~PassThroughTransport() = default;

void PassThroughTransport::EnumerateDevices(DeviceList& list) {
    uint8_t inquiryData[InquiryDataBufferSize];
    uint32_t lettered = 0;
    uint32_t portsFound = 0;
    for (CurrentDevice.PortNumber = 0; portsFound < AdapterCount && CurrentDevice.PortNumber < NumberLimit;
         ++CurrentDevice.PortNumber) {
        char path[KeyPathRoom];
        if (!Format(path, sizeof path, "%s\\Scsi Port %u", ScsiMapKey, unsigned{CurrentDevice.PortNumber})) continue;
        if (!KeyExists(path)) continue;
        ++portsFound;
        std::memset(inquiryData, 0, sizeof inquiryData);
        // From Windows 2000 on every storage bus gets a port number (SCSI cards, USB and 1394
        // bridges, RAID); the drives of this family sit behind the two IDE channels.
        if (TwoThousandOrLater() && !PortIsIdePort()) continue;
        if (!ReadInquiryData(inquiryData)) continue;
        ScanBuses(list, inquiryData, lettered);
    }
    ClearDeviceRecord(CurrentDevice);
}

int32_t PassThroughTransport::OpenForReading(const char* path, KeyHolder& key) {
    Api::Key opened = KeyTraits::Invalid;
    const int32_t status = storage_.OpenKey(Api::LocalMachine, path, 0, Api::KeyRead, &opened);
    if (status == Api::ErrorSuccess) key.Reset(opened);
    return status;
}

int PassThroughTransport::KeyExists(const char* path) {
    KeyHolder key(KeyTraits{storage_});
    return OpenForReading(path, key) == Api::ErrorSuccess ? 1 : 0;
}

int PassThroughTransport::PortIsIdePort() {
    char name[PortNameRoom] = {};
    char answer[PortNameRoom] = {};
    if (!Format(name, sizeof name, "scsi%u:", unsigned{CurrentDevice.PortNumber})) return 0;
    const char* target = FirstTarget(answer, storage_.QueryDosDeviceName(name, answer, sizeof answer), sizeof answer);
    if (target == nullptr) return 0;
    return std::strcmp(target, IdePorts[0]) == 0 || std::strcmp(target, IdePorts[1]) == 0 ? 1 : 0;
}

int PassThroughTransport::ReadInquiryData(uint8_t* inquiryData) {
    char path[OpenPathRoom];
    if (!Format(path, sizeof path, "\\\\.\\Scsi%u:", unsigned{CurrentDevice.PortNumber})) return 0;
    DeviceHandle = storage_.CreateDeviceFile(path, Api::GenericRead | Api::GenericWrite,
                                             Api::FileShareRead | Api::FileShareWrite, Api::OpenExisting, 0);
    if (DeviceHandle == Api::InvalidHandle) return 0;
    DeviceHandleHolder port(DeviceHandleTraits{storage_}, &DeviceHandle);
    uint32_t returned = 0;
    return storage_.DeviceControl(DeviceHandle, IoctlScsiGetInquiryData, nullptr, 0, inquiryData, InquiryDataBufferSize,
                                  &returned) != 0
               ? 1
               : 0;
}

void PassThroughTransport::ScanBuses(DeviceList& list, const uint8_t* inquiryData, uint32_t& lettered) {
    const uint32_t buses = inquiryData[offsetof(ScsiAdapterBusInfo, NumberOfBuses)];
    uint32_t busesFound = 0;
    for (CurrentDevice.PathId = 0; busesFound < buses && CurrentDevice.PathId < NumberLimit; ++CurrentDevice.PathId) {
        char path[KeyPathRoom];
        if (!Format(path, sizeof path, "%s\\Scsi Port %u\\Scsi Bus %u", ScsiMapKey, unsigned{CurrentDevice.PortNumber},
                    unsigned{CurrentDevice.PathId})) {
            continue;
        }
        if (!KeyExists(path)) continue;
        ++busesFound;
        ScanUnits(list, UnitCount(inquiryData, CurrentDevice.PathId), lettered);
    }
}

void PassThroughTransport::ScanUnits(DeviceList& list, uint32_t unitCount, uint32_t& lettered) {
    uint32_t targetsFound = 0;
    for (CurrentDevice.TargetId = 0; targetsFound < unitCount && CurrentDevice.TargetId < NumberLimit;
         ++CurrentDevice.TargetId) {
        char path[KeyPathRoom];
        if (!Format(path, sizeof path, "%s\\Scsi Port %u\\Scsi Bus %u\\Target Id %u\\Logical Unit Id %u", ScsiMapKey,
                    unsigned{CurrentDevice.PortNumber}, unsigned{CurrentDevice.PathId},
                    unsigned{CurrentDevice.TargetId}, unsigned{CurrentDevice.Lun})) {
            continue;
        }
        KeyHolder unit(KeyTraits{storage_});
        if (OpenForReading(path, unit) != Api::ErrorSuccess) continue;
        ++targetsFound;
        ExamineUnit(list, unit, lettered);
    }
}

void PassThroughTransport::ExamineUnit(DeviceList& list, KeyHolder& unit, uint32_t& lettered) {
    if (!IsCdRomUnit(unit.Get())) return;
    char deviceName[DeviceNameRoom] = {};
    ReadDeviceName(unit.Get(), deviceName, lettered);
    if (!FindDriveLetter(deviceName)) return;
    // Closed before the drive is opened: the key is not needed for the commands.
    unit.Close();
    ++lettered;

    if (!OpenDrive()) return;
    DeviceHandleHolder drive(DeviceHandleTraits{storage_}, &DeviceHandle);
    if (InquireDevice() && IdentifyController()) list.Append(CurrentDevice);
}

int PassThroughTransport::IsCdRomUnit(Api::Key unit) {
    uint8_t type[TypeRoom];
    uint32_t length = sizeof type;
    if (storage_.QueryValue(unit, "Type", nullptr, type, &length) != Api::ErrorSuccess) return 0;
    // A prefix: class drivers append to it (CdRomPeripheral0 and the like).
    const size_t prefix = sizeof CdRomType - 1;
    if (length > sizeof type || length < prefix) return 0;
    return std::memcmp(type, CdRomType, prefix) == 0 ? 1 : 0;
}

void PassThroughTransport::ReadDeviceName(Api::Key unit, char* name, uint32_t lettered) {
    uint32_t length = DeviceNameLimit;
    if (storage_.QueryValue(unit, "DeviceName", nullptr, reinterpret_cast<uint8_t*>(name), &length) ==
            Api::ErrorSuccess &&
        length <= DeviceNameLimit) {
        name[length] = '\0';  // the registry keeps strings as they were written, NUL or not
        return;
    }
    // Without the value the unit is taken for the CD-ROM class driver's next device: the class
    // driver numbers its devices CdRom0, CdRom1, ... in device-map order, the order of this scan.
    Format(name, DeviceNameRoom, "CdRom%u", lettered);
}

int PassThroughTransport::FindDriveLetter(const char* name) {
    char target[LetterRoom];
    // A target that does not fit could never equal an answer read into the same room.
    if (!Format(target, sizeof target, "\\Device\\%s", name)) return 0;
    // A and B are floppy letters.
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        char letterName[LetterRoom] = {};
        char answer[LetterRoom] = {};
        Format(letterName, sizeof letterName, "%c:", letter);
        const char* resolved =
            FirstTarget(answer, storage_.QueryDosDeviceName(letterName, answer, sizeof answer), sizeof answer);
        if (resolved == nullptr || std::strcmp(resolved, target) != 0) continue;
        std::memcpy(CurrentDevice.DosDeviceName, letterName, sizeof CurrentDevice.DosDeviceName);
        return 1;
    }
    return 0;
}

int PassThroughTransport::OpenDevice(const DeviceRecord& record) {
    CurrentDevice = record;
    return OpenDrive();
}

int PassThroughTransport::OpenDrive() {
    char path[OpenPathRoom];
    const size_t nameLength = BoundedLength(CurrentDevice.DosDeviceName, sizeof CurrentDevice.DosDeviceName);
    if (!Format(path, sizeof path, "\\\\.\\%.*s", static_cast<int>(nameLength), CurrentDevice.DosDeviceName)) {
        DeviceHandle = Api::InvalidHandle;
        return 0;
    }
    // 2000 and later refuse pass-through on a handle without write access; on NT 4 a read-only
    // open is enough.
    const int twoThousand = TwoThousandOrLater();
    const uint32_t access = twoThousand ? Api::GenericRead | Api::GenericWrite : Api::GenericRead;
    const uint32_t sharing = twoThousand ? Api::FileShareRead | Api::FileShareWrite : Api::FileShareRead;
    DeviceHandle = storage_.CreateDeviceFile(path, access, sharing, Api::OpenExisting, 0);
    return DeviceHandle != Api::InvalidHandle ? 1 : 0;
}

void PassThroughTransport::CloseDevice() { DeviceHandleHolder(DeviceHandleTraits{storage_}, &DeviceHandle).Close(); }

int PassThroughTransport::InquireDevice() {
    PassThroughCommandArea area;
    // The port driver gets 512 bytes of room although the drive is asked for 192.
    if (!SendBuffered(DriveCommandSet::Inquiry(DriveCommandSet::PassThroughAllocationLength), InquiryTransferLength,
                      InquiryInputLength, area)) {
        return 0;
    }
    if (area.Request.ScsiStatus != ScsiStatusGood) return 0;
    return DriveCommandSet::AcceptInquiry(area.Data, InquiryTransferLength, CurrentDevice);
}

int PassThroughTransport::IdentifyController() {
    PassThroughCommandArea area;
    if (!SendBuffered(DriveCommandSet::IdentityQuery(DriveCommandSet::PassThroughAllocationLength),
                      IdentityTransferLength, IdentityInputLength, area)) {
        return 0;
    }
    // Not ScsiStatus: some drives of the family end this query with CHECK CONDITION yet deliver
    // the block. One that delivers nothing leaves the zeroed area, whose maker word fails.
    return DriveCommandSet::AcceptIdentity(area.Data, IdentityTransferLength, CurrentDevice);
}

int PassThroughTransport::SendBuffered(const CommandDescriptorBlock& cdb, uint32_t transferLength, uint32_t inputLength,
                                       PassThroughCommandArea& area) {
    std::memset(&area, 0, sizeof area);
    FillEnvelope(area.Request, CurrentDevice, cdb, ScsiIoctlDataIn, transferLength,
                 offsetof(PassThroughCommandArea, Sense));
    area.Request.DataBufferOffset = offsetof(PassThroughCommandArea, Data);
    uint32_t returned = 0;
    return storage_.DeviceControl(DeviceHandle, IoctlScsiPassThrough, &area, inputLength, &area,
                                  BufferedOutputLength(transferLength), &returned);
}

int PassThroughTransport::ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return ReceiveChunk(DriveCommandSet::ReadBackChunk(bufferId, offset, length), buffer, length);
}

int PassThroughTransport::DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return ReceiveChunk(DriveCommandSet::DumpFirmwareChunk(bufferId, offset, length), buffer, length);
}

int PassThroughTransport::WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    DirectCommandArea area;
    return SendDirect(DriveCommandSet::WriteFirmwareChunk(bufferId, offset, length), ScsiIoctlDataOut, buffer, length,
                      area);
}

int PassThroughTransport::CommitFirmware() {
    DirectCommandArea area;
    return SendDirect(DriveCommandSet::CommitFirmware(), ScsiIoctlDataOut, nullptr, 0, area);
}

int PassThroughTransport::ReceiveChunk(const CommandDescriptorBlock& cdb, uint8_t* buffer, uint32_t length) {
    DirectCommandArea area;
    if (!SendDirect(cdb, ScsiIoctlDataIn, buffer, length, area)) return 0;
    // The port driver hands back the count it moved. A transfer that ended early with GOOD status
    // leaves the end of the buffer as it was: taken for the chunk, it would be compared or saved
    // as bytes the drive never sent.
    return area.Request.DataTransferLength < length ? 0 : 1;
}

int PassThroughTransport::SendDirect(const CommandDescriptorBlock& cdb, uint8_t dataIn, uint8_t* buffer,
                                     uint32_t length, DirectCommandArea& area) {
    std::memset(&area, 0, sizeof area);
    FillEnvelope(area.Request, CurrentDevice, cdb, dataIn, length, offsetof(DirectCommandArea, Sense));
    // The chunk stays in the caller's buffer: the port driver maps it, nothing is copied.
    area.Request.DataBuffer = buffer;
    uint32_t returned = 0;
    if (!storage_.DeviceControl(DeviceHandle, IoctlScsiPassThroughDirect, &area, sizeof area, &area, sizeof area,
                                &returned)) {
        return 0;
    }
    return area.Request.ScsiStatus == ScsiStatusGood ? 1 : 0;
}
