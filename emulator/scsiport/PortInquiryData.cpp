#include "emulator/scsiport/PortInquiryData.h"

#include "transport/ScsiPassThrough.h"

namespace emulator {

namespace {

constexpr uint32_t UnitHead = offsetof(ScsiInquiryData, InquiryData);
constexpr uint32_t UnitEntry = UnitHead + PortInquiryData::UnitInquiryLength;
constexpr uint32_t TableStart = offsetof(ScsiAdapterBusInfo, BusData);

void CopyBytes(uint8_t* to, const void* from, size_t count) {
    const uint8_t* in = static_cast<const uint8_t*>(from);
    for (size_t i = 0; i < count; ++i) to[i] = in[i];
}

}  // namespace

uint32_t PortInquiryData::Size(uint8_t buses, uint32_t count) {
    return TableStart + buses * uint32_t{sizeof(ScsiBusData)} + count * UnitEntry;
}

uint32_t PortInquiryData::Write(uint8_t buses, const Unit* units, uint32_t count, uint8_t* out, uint32_t room) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (units[i].bus < buses) ++kept;
    }
    const uint32_t size = Size(buses, kept);
    if (out == nullptr || room < size) return 0;
    for (uint32_t i = 0; i < size; ++i) out[i] = 0;
    out[offsetof(ScsiAdapterBusInfo, NumberOfBuses)] = buses;

    uint32_t at = TableStart + buses * uint32_t{sizeof(ScsiBusData)};
    for (uint8_t bus = 0; bus < buses; ++bus) {
        ScsiBusData entry{};
        entry.InitiatorBusId = InitiatorId;
        for (uint32_t i = 0; i < count; ++i) {
            if (units[i].bus == bus) ++entry.NumberOfLogicalUnits;
        }
        entry.InquiryDataOffset = entry.NumberOfLogicalUnits != 0 ? at : 0;
        CopyBytes(out + TableStart + bus * sizeof(ScsiBusData), &entry, sizeof entry);
        uint8_t written = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (units[i].bus != bus) continue;
            ++written;
            ScsiInquiryData head{};
            head.PathId = bus;
            head.TargetId = units[i].target;
            head.DeviceClaimed = 1;
            head.InquiryDataLength = UnitInquiryLength;
            head.NextInquiryDataOffset = written < entry.NumberOfLogicalUnits ? at + UnitEntry : 0;
            CopyBytes(out + at, &head, UnitHead);
            // What the port saw of the unit at boot; the drive is not asked again.
            uint8_t* inquiry = out + at + UnitHead;
            const DriveConfig* config = units[i].config;
            if (config != nullptr) {
                inquiry[0] = config->deviceType;
                inquiry[1] = 0x80;  // removable
                CopyBytes(inquiry + 8, config->vendor, sizeof config->vendor);
                CopyBytes(inquiry + 16, config->product, sizeof config->product);
                CopyBytes(inquiry + 32, config->revision, sizeof config->revision);
            } else {
                inquiry[0] = 0x1F;  // unknown device type
            }
            at += UnitEntry;
        }
    }
    return size;
}

}  // namespace emulator
