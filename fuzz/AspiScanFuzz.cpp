// The ASPI scan against a manager whose support status, adapter count, host adapter answers and
// drives come from the input. Whatever they say, the scan lists only drives that are there, each
// once and as it reported itself, and the transport's teardown releases the library it holds.
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "emulator/drive/EmulatedDrive.h"
#include "fuzz/FuzzDriveIdentity.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/simulated/SimulatedAspiManager.h"
#include "transport/AspiTransport.h"
#include "transport/DeviceList.h"

namespace {

struct Drive {
    static constexpr uint32_t FlashBytes = 0x1000;  // the scan never touches the flash
    uint8_t Adapter = 0;
    uint8_t Target = 0;
    emulator::DriveConfig Config;
    std::vector<uint8_t> Flash = std::vector<uint8_t>(FlashBytes);
    std::vector<uint8_t> Staging = std::vector<uint8_t>(FlashBytes);
    emulator::EmulatedDrive Emulated;
};

emulator::DriveConfig Config(FuzzInput& in) {
    emulator::DriveConfig config = FuzzedDriveIdentity(in, Drive::FlashBytes);
    for (char& c : config.product) c = static_cast<char>(in.Byte());
    return config;
}

// The drive attached last at a place answers there.
const Drive* DriveAt(const std::deque<std::unique_ptr<Drive>>& drives, uint8_t adapter, uint8_t target) {
    const Drive* found = nullptr;
    for (const auto& drive : drives) {
        if (drive->Adapter == adapter && drive->Target == target) found = drive.get();
    }
    return found;
}

void CheckList(const DeviceList& list, const std::deque<std::unique_ptr<Drive>>& drives, uint32_t adapterCount) {
    for (size_t i = 0; i < list.Count(); ++i) {
        const DeviceRecord& record = *list.At(i);
        FUZZ_CHECK(record.PathId < adapterCount);
        FUZZ_CHECK(record.PortNumber == 0 && record.Lun == 0);
        for (char c : record.DosDeviceName) FUZZ_CHECK(c == '\0');
        const Drive* drive = DriveAt(drives, record.PathId, record.TargetId);
        FUZZ_CHECK(drive != nullptr);
        FUZZ_CHECK(std::memcmp(record.Vendor, drive->Config.vendor, 8) == 0);
        FUZZ_CHECK(std::memcmp(record.Product, drive->Config.product, 16) == 0);
        FUZZ_CHECK(record.ControllerId == drive->Config.controllerId);
        FUZZ_CHECK(record.VersionMajor == drive->Config.versionMajor);
        FUZZ_CHECK(record.VersionMinor == drive->Config.versionMinor);
        // In scan order: each place once, adapters and targets ascending.
        if (i > 0) {
            const DeviceRecord& previous = *list.At(i - 1);
            FUZZ_CHECK(previous.PathId < record.PathId ||
                       (previous.PathId == record.PathId && previous.TargetId < record.TargetId));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    std::deque<std::unique_ptr<Drive>> drives;
    uint32_t adapterCount = 0;
    {
        SimulatedAspiManager manager;
        const uint8_t flags = in.Byte();
        manager.LibraryPresent = (flags & 0x07) != 0x07;
        manager.HasSupportInfoEntry = (flags & 0x38) != 0x38;
        manager.HasSendCommandEntry = (flags & 0xC0) != 0xC0;
        manager.SupportStatus = in.Bit() ? SS_COMP : in.Byte();
        // Now and then all 255 adapters, so that the 8-bit adapter numbers are run to their end.
        manager.ReportedAdapterCount = static_cast<uint8_t>(in.Byte() == 0xFF ? 0xFF : in.Below(10));
        // Any status a manager completes with. SS_PENDING is none: the request would never
        // complete, and the transport waits for a completion without a time limit.
        if (in.Bit()) {
            const uint8_t forced = in.Byte();
            if (forced != SS_PENDING) manager.ForcedStatus = forced;
        }

        const unsigned answers = in.Below(5);
        for (unsigned i = 0; i < answers; ++i) {
            const uint8_t adapter = static_cast<uint8_t>(in.Below(10));
            const uint8_t status = in.Bit() ? SS_COMP : in.Byte();
            manager.SetAdapterAnswer(adapter, status, in.Byte());
        }
        const unsigned count = in.Below(6);
        for (unsigned i = 0; i < count; ++i) {
            drives.push_back(std::make_unique<Drive>());
            Drive& drive = *drives.back();
            drive.Adapter = static_cast<uint8_t>(in.Below(10));
            drive.Target = in.Byte();
            drive.Config = Config(in);
            drive.Emulated.Configure(drive.Config);
            drive.Emulated.Attach(drive.Flash.data(), drive.Staging.data());
            manager.AttachDrive(drive.Adapter, drive.Target, &drive.Emulated);
        }

        auto transport = std::make_unique<AspiTransport>(manager);
        if (transport->Usable) {
            FUZZ_CHECK(manager.Loaded());
            adapterCount = transport->AdapterCount;
            DeviceList list;
            transport->EnumerateDevices(list);
            CheckList(list, drives, adapterCount);
            const auto* bytes = reinterpret_cast<const uint8_t*>(&transport->CurrentDevice);
            for (size_t i = 0; i < sizeof(DeviceRecord); ++i) FUZZ_CHECK(bytes[i] == 0);
        } else {
            FUZZ_CHECK(!manager.Loaded());
        }
        transport.reset();
        FUZZ_CHECK(!manager.Loaded());
        FUZZ_CHECK(manager.BadFrees() == 0);
        FUZZ_CHECK(manager.CallsWhileUnloaded() == 0);
    }
    return 0;
}
