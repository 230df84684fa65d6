#include "emulator/scsiport/driver/ScsiPortDriver.h"

#include <new>

#include "emulator/drive/DriveLogText.h"
#include "emulator/scsiport/PortInquiryData.h"
#include "emulator/drive/TextLine.h"
#include "emulator/scsiport/driver/CallerProcess.h"
#include "emulator/scsiport/driver/DeviceMapKeys.h"
#include "emulator/scsiport/driver/KernelFiles.h"
#include "emulator/scsiport/driver/KernelText.h"
#include "transport/ScsiPassThrough.h"

using emulator::DriveLogText;
using emulator::EmulatedDrive;
using emulator::PassThroughRequest;
using emulator::PassThroughRequestHandler;
using emulator::PortInquiryData;
using emulator::ScsiPortSettings;
using emulator::TextLine;

namespace {

constexpr ULONG PoolTag = 0x70535345;  // "ESSp"
constexpr size_t LineRoom = 512;

void* Allocate(size_t size) {
    return ExAllocatePoolWithTag(NonPagedPool, size, PoolTag);
}

void Free(void* memory) {
    if (memory != nullptr) ExFreePoolWithTag(memory, PoolTag);
}

const char* ControlName(ULONG code) {
    switch (code) {
    case IoctlScsiGetInquiryData:
        return "GET_INQUIRY_DATA";
    case IoctlScsiPassThrough:
        return "PASS_THROUGH";
    case IoctlScsiPassThroughDirect:
        return "PASS_THROUGH_DIRECT";
    default:
        return "CONTROL";
    }
}

void Narrow(const uint16_t* wide, char* out, size_t room) {
    TextLine line(out, room);
    for (; wide != nullptr && *wide != 0; ++wide) line.Put(*wide < 0x80 ? static_cast<char>(*wide) : '?');
}

}  // namespace

// ---- start ----

NTSTATUS ScsiPortDriver::ReadSettings(PCUNICODE_STRING registryPath) {
    WideName path;
    for (USHORT i = 0; i < registryPath->Length / sizeof(WCHAR); ++i) path.Put(registryPath->Buffer[i]);
    path.Append("\\Parameters");
    if (!path.Whole()) return STATUS_NAME_TOO_LONG;
    UNICODE_STRING keyName = path.View();
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key;
    NTSTATUS status = ZwOpenKey(&key, KEY_READ, &attributes);
    if (!NT_SUCCESS(status)) return status;

    const ULONG room = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + sizeof(ScsiPortSettings);
    auto* value = static_cast<KEY_VALUE_PARTIAL_INFORMATION*>(Allocate(room));
    settings_ = static_cast<ScsiPortSettings*>(Allocate(sizeof(ScsiPortSettings)));
    if (value == nullptr || settings_ == nullptr) {
        status = STATUS_INSUFFICIENT_RESOURCES;
    } else {
        UNICODE_STRING valueName;
        RtlInitUnicodeString(&valueName, L"Settings");
        ULONG got = 0;
        status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, value, room, &got);
        if (NT_SUCCESS(status) && (value->Type != REG_BINARY || value->DataLength != sizeof(ScsiPortSettings))) {
            status = STATUS_REVISION_MISMATCH;
        }
        if (NT_SUCCESS(status)) {
            RtlCopyMemory(settings_, value->Data, sizeof(ScsiPortSettings));
            const ScsiPortSettings& s = *settings_;
            if (s.Magic != ScsiPortSettings::ExpectedMagic || s.Version != ScsiPortSettings::LayoutVersion ||
                s.Size != sizeof(ScsiPortSettings) || s.PortCount > ScsiPortSettings::MaxPorts ||
                s.DriveCount > ScsiPortSettings::MaxDrives) {
                status = STATUS_REVISION_MISMATCH;
            }
        }
    }
    Free(value);
    ZwClose(key);
    if (NT_SUCCESS(status)) {
        // Texts end within their fields whatever the value held.
        ScsiPortSettings& s = *settings_;
        s.EventLogPath[ScsiPortSettings::PathRoom - 1] = 0;
        for (auto& port : s.Ports) port.DeviceName[ScsiPortSettings::NameRoom - 1] = 0;
        for (auto& drive : s.Drives) {
            drive.MapType[ScsiPortSettings::NameRoom - 1] = 0;
            drive.MapDeviceName[ScsiPortSettings::NameRoom - 1] = 0;
            drive.FlashPath[ScsiPortSettings::PathRoom - 1] = 0;
            drive.LogPath[ScsiPortSettings::PathRoom - 1] = 0;
            if (drive.FaultCount > EmulatedDrive::MaxFaultRules) drive.FaultCount = EmulatedDrive::MaxFaultRules;
        }
    }
    return status;
}

NTSTATUS ScsiPortDriver::SetUpDrive(uint32_t index) {
    const ScsiPortSettings::Drive& settings = settings_->Drives[index];
    ServedDrive& served = drives_[index];
    served.Settings = &settings;
    const uint32_t size = settings.Config.flashSize;
    if (size == 0 || size > 0x1000000) return STATUS_INVALID_PARAMETER;
    served.Flash = static_cast<uint8_t*>(Allocate(size));
    served.Staging = static_cast<uint8_t*>(Allocate(size));
    void* place = Allocate(sizeof(EmulatedDrive));
    if (served.Flash == nullptr || served.Staging == nullptr || place == nullptr) {
        Free(place);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlFillMemory(served.Flash, size, 0xFF);
    if (settings.FlashPath[0] != 0) {
        const WCHAR* path = reinterpret_cast<const WCHAR*>(settings.FlashPath);
        // An existing image is the drive's flash as a previous run left it; never replace it.
        NTSTATUS status = KernelFiles::ReadExactly(path, served.Flash, size);
        if (status == STATUS_OBJECT_NAME_NOT_FOUND) status = KernelFiles::Replace(path, served.Flash, size);
        if (!NT_SUCCESS(status)) return status;
    }
    served.Drive = new (place) EmulatedDrive(settings.Config, served.Flash, served.Staging);
    EmulatedDrive& drive = *served.Drive;
    for (uint32_t f = 0; f < settings.FaultCount; ++f) drive.AddFault(settings.Faults[f]);
    drive.FailCommandNumber(settings.FailCommandNumber);
    drive.SetIdentityCheckWithData(settings.IdentityCheckWithData != 0);
    drive.SetGone(settings.Gone != 0);
    drive.SetLatencyMicroseconds(settings.LatencyMilliseconds * 1000u);
    // An empty log from the start: a stale one from an earlier run would mislead.
    WriteCommandLog(served);
    return STATUS_SUCCESS;
}

NTSTATUS ScsiPortDriver::CreateDevice(PDRIVER_OBJECT driver, const WCHAR* name, DEVICE_TYPE type, bool isPort,
                                      uint32_t index) {
    // Directories on the way (\Device\Ide for the IDE ports) may not exist yet.
    WideName directory;
    for (const WCHAR* c = name; *c != 0; ++c) {
        if (*c == L'\\' && directory.Length() > 7) {
            UNICODE_STRING view = directory.View();
            OBJECT_ATTRIBUTES attributes;
            InitializeObjectAttributes(&attributes, &view, OBJ_PERMANENT | OBJ_OPENIF | OBJ_CASE_INSENSITIVE, nullptr,
                                       nullptr);
            HANDLE handle;
            if (NT_SUCCESS(ZwCreateDirectoryObject(&handle, DIRECTORY_ALL_ACCESS, &attributes))) ZwClose(handle);
        }
        directory.Put(*c);
    }
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, name);
    PDEVICE_OBJECT device = nullptr;
    const NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), &deviceName, type, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    auto* extension = static_cast<DeviceExtension*>(device->DeviceExtension);
    extension->IsPort = isPort;
    extension->Index = index;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS ScsiPortDriver::CreatePortDevice(PDRIVER_OBJECT driver, uint32_t index) {
    const ScsiPortSettings::Port& port = settings_->Ports[index];
    const WCHAR* name = reinterpret_cast<const WCHAR*>(port.DeviceName);
    NTSTATUS status = CreateDevice(driver, name, FILE_DEVICE_CONTROLLER, true, index);
    if (!NT_SUCCESS(status)) return status;
    WideName link("\\DosDevices\\Scsi");
    link.Decimal(port.Number).Append(":");
    UNICODE_STRING linkName = link.View();
    UNICODE_STRING target;
    RtlInitUnicodeString(&target, name);
    return IoCreateSymbolicLink(&linkName, &target);
}

NTSTATUS ScsiPortDriver::CreateDriveDevice(PDRIVER_OBJECT driver, uint32_t index) {
    const ScsiPortSettings::Drive& drive = settings_->Drives[index];
    WideName name("\\Device\\CdRom");
    name.Decimal(drive.CdRomNumber);
    NTSTATUS status = CreateDevice(driver, name.Data(), FILE_DEVICE_CD_ROM, false, index);
    if (!NT_SUCCESS(status) || drive.Letter == 0) return status;
    WideName link("\\DosDevices\\");
    link.Put(static_cast<uint16_t>(drive.Letter)).Append(":");
    UNICODE_STRING linkName = link.View();
    UNICODE_STRING target = name.View();
    return IoCreateSymbolicLink(&linkName, &target);
}

NTSTATUS ScsiPortDriver::Start(PDRIVER_OBJECT driver, PCUNICODE_STRING registryPath) {
    KeInitializeMutex(&lock_, 0);
    CallerProcess::Initialize();
    NTSTATUS status = ReadSettings(registryPath);
    if (!NT_SUCCESS(status)) return status;
    if (settings_->EventLogPath[0] != 0) {
        KernelFiles::Replace(reinterpret_cast<const WCHAR*>(settings_->EventLogPath), "", 0);
    }
    char line[LineRoom];
    const char* step = "drive";
    for (uint32_t d = 0; d < settings_->DriveCount && NT_SUCCESS(status); ++d) status = SetUpDrive(d);
    if (NT_SUCCESS(status)) {
        step = "port device";
        for (uint32_t p = 0; p < settings_->PortCount && NT_SUCCESS(status); ++p) status = CreatePortDevice(driver, p);
    }
    if (NT_SUCCESS(status)) {
        step = "drive device";
        for (uint32_t d = 0; d < settings_->DriveCount && NT_SUCCESS(status); ++d) {
            status = CreateDriveDevice(driver, d);
        }
    }
    if (NT_SUCCESS(status)) {
        step = "device map";
        status = DeviceMapKeys::Create(*settings_);
    }
    TextLine text(line, sizeof line);
    if (NT_SUCCESS(status)) {
        text.Text("READY ports=").Decimal(settings_->PortCount).Text(" drives=").Decimal(settings_->DriveCount);
    } else {
        text.Text("FAILED ").Text(step).Text(" status=").Hex(static_cast<uint32_t>(status), 8);
    }
    Log(line);
    // The driver stays loaded even when a step failed, so that the log can say so; what was
    // made is usable.
    return STATUS_SUCCESS;
}

// ---- requests ----

void ScsiPortDriver::Log(const char* line) {
    if (settings_ == nullptr || settings_->EventLogPath[0] == 0) return;
    char buffer[LineRoom + 2];
    TextLine text(buffer, sizeof buffer);
    text.Text(line).Put('\n');
    KernelFiles::Append(reinterpret_cast<const WCHAR*>(settings_->EventLogPath), buffer,
                        static_cast<uint32_t>(text.Length()));
}

void ScsiPortDriver::NameOf(PDEVICE_OBJECT device, char* out, size_t room) const {
    const auto* extension = static_cast<const DeviceExtension*>(device->DeviceExtension);
    if (extension->IsPort) {
        Narrow(settings_->Ports[extension->Index].DeviceName, out, room);
    } else {
        TextLine(out, room).Text("\\Device\\CdRom").Decimal(settings_->Drives[extension->Index].CdRomNumber);
    }
}

NTSTATUS ScsiPortDriver::Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR returned = 0;
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        RecordOpen(device, stack);
        break;
    case IRP_MJ_CLEANUP:
        break;
    case IRP_MJ_CLOSE:
        RecordClose(device, stack);
        break;
    case IRP_MJ_DEVICE_CONTROL:
        status = Control(device, stack, irp, returned);
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    KeReleaseMutex(&lock_, FALSE);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = returned;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void ScsiPortDriver::RecordOpen(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack) {
    // Wine completes the caller's open before the driver hears of it: record, never refuse.
    for (OpenFile& open : openFiles_) {
        if (open.File == nullptr) {
            open.File = stack->FileObject;
            open.Device = device;
            break;
        }
    }
    char name[ScsiPortSettings::NameRoom];
    NameOf(device, name, sizeof name);
    char line[LineRoom];
    TextLine(line, sizeof line)
        .Text("OPEN file=").Hex(reinterpret_cast<uintptr_t>(stack->FileObject))
        .Text(" device=").Text(name)
        .Text(" pid=").Decimal(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(PsGetCurrentProcessId())))
        .Text(" access=").Hex(CallerProcess::OpenAccess(), 8)
        .Text(" share=").Hex(stack->Parameters.Create.ShareAccess)
        .Text(" options=").Hex(stack->Parameters.Create.Options, 8);
    Log(line);
}

void ScsiPortDriver::RecordClose(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack) {
    // A close may come under the device host's own process id: files are told apart by object.
    bool known = false;
    for (OpenFile& open : openFiles_) {
        if (open.File != nullptr && open.File == stack->FileObject) {
            open.File = nullptr;
            known = true;
            break;
        }
    }
    char name[ScsiPortSettings::NameRoom];
    NameOf(device, name, sizeof name);
    char line[LineRoom];
    TextLine text(line, sizeof line);
    text.Text("CLOSE file=").Hex(reinterpret_cast<uintptr_t>(stack->FileObject)).Text(" device=").Text(name);
    if (!known) text.Text(" unmatched");
    Log(line);
}

NTSTATUS ScsiPortDriver::Control(PDEVICE_OBJECT device, PIO_STACK_LOCATION stack, PIRP irp, ULONG_PTR& returned) {
    const auto* extension = static_cast<const DeviceExtension*>(device->DeviceExtension);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const uint32_t inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const uint32_t outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    // Both controls are METHOD_BUFFERED: one system buffer, the larger of the two lengths.
    auto* system = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);

    char name[ScsiPortSettings::NameRoom];
    NameOf(device, name, sizeof name);
    char line[LineRoom];
    TextLine text(line, sizeof line);
    text.Text(ControlName(code)).Text(" file=").Hex(reinterpret_cast<uintptr_t>(stack->FileObject));
    text.Text(" device=").Text(name).Text(" code=").Hex(code, 5);
    text.Text(" in=").Decimal(inputLength).Text(" out=").Decimal(outputLength);

    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    if (code == IoctlScsiGetInquiryData && extension->IsPort) {
        status = InquiryData(extension->Index, system, outputLength, returned);
    } else if ((code == IoctlScsiPassThrough || code == IoctlScsiPassThroughDirect) && !extension->IsPort) {
        char envelope[LineRoom];
        status = PassThrough(drives_[extension->Index], code == IoctlScsiPassThroughDirect, system, inputLength,
                             outputLength, returned, envelope, sizeof envelope);
        text.Text(envelope);
    }
    text.Text(" status=").Hex(static_cast<uint32_t>(status), 8).Text(" returned=").Decimal(static_cast<uint32_t>(returned));
    Log(line);
    return status;
}

NTSTATUS ScsiPortDriver::InquiryData(uint32_t portIndex, uint8_t* system, uint32_t outputLength, ULONG_PTR& returned) {
    const ScsiPortSettings::Port& port = settings_->Ports[portIndex];
    PortInquiryData::Unit units[ScsiPortSettings::MaxDrives];
    uint32_t count = 0;
    // Ascending bus, then target, as a port lists what it found.
    for (uint32_t bus = 0; bus < port.Buses; ++bus) {
        for (uint32_t target = 0; target < 256; ++target) {
            for (uint32_t d = 0; d < settings_->DriveCount; ++d) {
                const ScsiPortSettings::Drive& drive = settings_->Drives[d];
                if (drive.Port == port.Number && drive.Bus == bus && drive.Target == target) {
                    units[count].bus = drive.Bus;
                    units[count].target = drive.Target;
                    units[count].config = &drive.Config;
                    ++count;
                }
            }
        }
    }
    if (system == nullptr || outputLength < PortInquiryData::Size(port.Buses, count)) return STATUS_BUFFER_TOO_SMALL;
    returned = PortInquiryData::Write(port.Buses, units, count, system, outputLength);
    return STATUS_SUCCESS;
}

NTSTATUS ScsiPortDriver::PassThrough(ServedDrive& served, bool direct, uint8_t* system, uint32_t inputLength,
                                     uint32_t outputLength, ULONG_PTR& returned, char* line, size_t room) {
    using Handler = PassThroughRequestHandler;
    TextLine text(line, room);
    const Handler::Prepared prepared = Handler::Prepare(system, inputLength, outputLength, direct);
    const PassThroughRequest& request = prepared.request;
    if (system != nullptr && inputLength >= (direct ? sizeof(ScsiPassThroughDirect) : sizeof(ScsiPassThrough))) {
        text.Text(" length=").Decimal(request.Length).Text(" path=").Decimal(request.PathId);
        text.Text(" target=").Decimal(request.TargetId).Text(" lun=").Decimal(request.Lun);
        text.Text(" cdblength=").Decimal(request.CdbLength).Text(" senselength=").Decimal(request.SenseInfoLength);
        text.Text(" senseoffset=").Decimal(request.SenseInfoOffset).Text(" datain=").Decimal(request.DataIn);
        text.Text(" transfer=").Decimal(request.DataTransferLength).Text(" timeout=").Decimal(request.TimeOutValue);
        if (direct) {
            text.Text(" buffer=").Text(request.DataBuffer != nullptr ? "caller" : "null");
        } else {
            text.Text(" dataoffset=").Decimal(static_cast<uint32_t>(request.DataBufferOffset));
        }
        text.Text(" cdb=");
        for (uint32_t i = 0; i < request.CdbLength && i < sizeof request.Cdb; ++i) {
            static const char hex[] = "0123456789ABCDEF";
            text.Put(hex[request.Cdb[i] >> 4]).Put(hex[request.Cdb[i] & 0xF]);
        }
    }
    if (prepared.refusal == Handler::Refusal::RevisionMismatch) return STATUS_REVISION_MISMATCH;
    if (prepared.refusal != Handler::Refusal::None) return STATUS_INVALID_PARAMETER;
    if (served.Drive == nullptr) return STATUS_DEVICE_NOT_CONNECTED;

    uint8_t* data = prepared.systemData;
    uint8_t* copy = nullptr;
    if (direct && prepared.HasData()) {
        // The caller's buffer lives in its own process: work on a copy and carry it across.
        if (request.DataTransferLength > MaxDirectTransfer) return STATUS_INVALID_PARAMETER;
        copy = static_cast<uint8_t*>(Allocate(request.DataTransferLength));
        if (copy == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
        RtlZeroMemory(copy, request.DataTransferLength);
        if (!prepared.DataIn()) {
            const NTSTATUS status = CallerProcess::Read(request.DataBuffer, copy, request.DataTransferLength);
            if (!NT_SUCCESS(status)) {
                Free(copy);
                return status;
            }
        }
        data = copy;
    }
    const uint32_t commitsBefore = served.Drive->CommitCount();
    const EmulatedDrive::Result result = served.Drive->Execute(Handler::DriveRequest(prepared, system, data));
    NTSTATUS status = STATUS_SUCCESS;
    if (copy != nullptr && prepared.DataIn() && result.transferred != 0) {
        status = CallerProcess::Write(request.DataBuffer, copy, result.transferred);
    }
    Free(copy);
    AfterCommand(served, commitsBefore);
    text.Text(" scsistatus=").Decimal(result.status);
    if (!NT_SUCCESS(status)) return status;
    returned = Handler::Complete(prepared, system, outputLength, result);
    return STATUS_SUCCESS;
}

void ScsiPortDriver::AfterCommand(ServedDrive& served, uint32_t commitsBefore) {
    const ScsiPortSettings::Drive& settings = *served.Settings;
    if (served.Drive->CommitCount() != commitsBefore && settings.FlashPath[0] != 0) {
        KernelFiles::Replace(reinterpret_cast<const WCHAR*>(settings.FlashPath), served.Flash, settings.Config.flashSize);
    }
    // Before the completion: a caller that has seen it may be ended at once, the log must be there.
    WriteCommandLog(served);
    const uint32_t latency = served.Drive->LatencyMicroseconds();
    if (latency != 0) {
        LARGE_INTEGER interval;
        interval.QuadPart = -static_cast<LONGLONG>(latency) * 10;
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
}

void ScsiPortDriver::WriteCommandLog(const ServedDrive& served) {
    const ScsiPortSettings::Drive& settings = *served.Settings;
    if (settings.LogPath[0] == 0) return;
    const EmulatedDrive& drive = *served.Drive;
    const size_t room = (drive.LogSize() + 1) * (DriveLogText::LineRoom + 1);
    char* text = static_cast<char*>(Allocate(room));
    if (text == nullptr) return;
    size_t length = 0;
    for (uint32_t i = 0; i <= drive.LogSize(); ++i) {
        const size_t written = i < drive.LogSize()
                                   ? DriveLogText::FormatEntry(*drive.LogAt(i), text + length, room - length)
                                   : DriveLogText::FormatOverflow(drive, text + length, room - length);
        if (written != 0) {
            length += written;
            text[length++] = '\n';
        }
    }
    KernelFiles::Replace(reinterpret_cast<const WCHAR*>(settings.LogPath), text, static_cast<uint32_t>(length));
    Free(text);
}
