#include "tests/support/simulated/EmulatedTransport.h"

#include <cstring>

#include "transport/DriveCommandSet.h"

using emulator::EmulatedDrive;

EmulatedTransport::EmulatedTransport(uint32_t adapterCount) {
    Usable = 1;
    AdapterCount = adapterCount;
}

void EmulatedTransport::AttachDrive(uint8_t adapter, uint8_t target, EmulatedDrive* drive) {
    for (Place& place : places_) {
        if (place.Adapter == adapter && place.Target == target) {
            place.Drive = drive;
            return;
        }
    }
    places_.push_back({adapter, target, drive});
}

EmulatedDrive* EmulatedTransport::DriveAt(uint8_t adapter, uint8_t target) const {
    for (const Place& place : places_) {
        if (place.Adapter == adapter && place.Target == target) return place.Drive;
    }
    return nullptr;
}

void EmulatedTransport::EnumerateDevices(DeviceList& list) {
    for (CurrentDevice.PathId = 0; CurrentDevice.PathId < AdapterCount; ++CurrentDevice.PathId) {
        for (CurrentDevice.TargetId = 0; CurrentDevice.TargetId < TargetsPerAdapter; ++CurrentDevice.TargetId) {
            if (InquireDevice() && IdentifyController()) list.Append(CurrentDevice);
        }
        if (CurrentDevice.PathId == 0xFF) break;
    }
    ClearDeviceRecord(CurrentDevice);
}

int EmulatedTransport::InquireDevice() {
    uint8_t answer[AnswerBufferSize] = {};
    if (!Send(DriveCommandSet::Inquiry(DriveCommandSet::AspiAllocationLength), EmulatedDrive::Direction::In, answer,
              sizeof answer, false)) {
        return 0;
    }
    return DriveCommandSet::AcceptInquiry(answer, sizeof answer, CurrentDevice);
}

int EmulatedTransport::IdentifyController() {
    uint8_t answer[AnswerBufferSize] = {};
    if (!Send(DriveCommandSet::IdentityQuery(DriveCommandSet::AspiAllocationLength), EmulatedDrive::Direction::In,
              answer, sizeof answer, false)) {
        return 0;
    }
    return DriveCommandSet::AcceptIdentity(answer, sizeof answer, CurrentDevice);
}

int EmulatedTransport::OpenDevice(const DeviceRecord& record) {
    CurrentDevice = record;
    ++opens_;
    if (OpenFails || DriveAt(record.PathId, record.TargetId) == nullptr) return 0;
    ++successfulOpens_;
    open_ = true;
    return 1;
}

void EmulatedTransport::CloseDevice() {
    ++closes_;
    open_ = false;
}

int EmulatedTransport::ReadBackChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Send(DriveCommandSet::ReadBackChunk(bufferId, offset, length), EmulatedDrive::Direction::In, buffer,
                length, true);
}

int EmulatedTransport::DumpFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Send(DriveCommandSet::DumpFirmwareChunk(bufferId, offset, length), EmulatedDrive::Direction::In, buffer,
                length, true);
}

int EmulatedTransport::WriteFirmwareChunk(uint8_t* buffer, uint8_t bufferId, uint16_t offset, uint16_t length) {
    return Send(DriveCommandSet::WriteFirmwareChunk(bufferId, offset, length), EmulatedDrive::Direction::Out, buffer,
                length, true);
}

int EmulatedTransport::CommitFirmware() {
    return Send(DriveCommandSet::CommitFirmware(), EmulatedDrive::Direction::Out, nullptr, 0, true);
}

int EmulatedTransport::Send(const CommandDescriptorBlock& cdb, EmulatedDrive::Direction direction, uint8_t* data,
                            uint32_t length, bool needsOpenDrive) {
    if (needsOpenDrive && !open_) ++commandsWhileClosed_;
    EmulatedDrive* drive = DriveAt(CurrentDevice.PathId, CurrentDevice.TargetId);
    if (drive == nullptr) return 0;
    uint8_t sense[EmulatedDrive::SenseLength] = {};
    EmulatedDrive::Request request;
    request.cdb = cdb.Bytes;
    request.cdbLength = cdb.Length;
    request.direction = direction;
    request.data = data;
    request.dataLength = length;
    request.sense = sense;
    request.senseLength = sizeof sense;
    return drive->Execute(request).status == EmulatedDrive::StatusGood ? 1 : 0;
}
