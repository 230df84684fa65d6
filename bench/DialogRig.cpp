#include "bench/DialogRig.h"

#include "app/ControlIds.h"

namespace {
const char* const SavePath = "dump.bin";
}

DialogRig::DialogRig(uint32_t latencyMicroseconds) {
    BenchDrive& drive = bench_.AddDrive();
    Transport.AttachDrive(0, 0, &drive.Drive);
    bench_.FillSlot(UpgradeBench::PatternImage(3));
    FirmwareOperations::Platform platform{bench_.Files, bench_.Sleep, Buffers, bench_.Slot.data()};
    bench_.Dialog = std::make_unique<UpgradeDialog>(bench_.Backend, platform);
    Transport.EnumerateDevices(bench_.Dialog->DeviceList);
    bench_.Backend.Open(*bench_.Dialog);
    bench_.Dialog->FirmwarePath = SavePath;
    ActiveTransport = &Transport;
    // Set after the scan: the figures are about the operations alone.
    drive.Drive.SetLatencyMicroseconds(latencyMicroseconds);
    Transport.Commands = 0;
    Transport.DriveMicroseconds = 0;
}

DialogRig::~DialogRig() { ActiveTransport = &bench_.Transport; }

bool DialogRig::Succeeded() {
    const bool succeeded = bench_.Status() == "Upgrade Firmware Successful!!";
    // The histories would otherwise grow with every operation and be counted as its cost.
    bench_.Backend.ControlById(ControlStatusLine).TextHistory.clear();
    bench_.Backend.ControlById(ControlProgress).PositionHistory.clear();
    bench_.Sleep.Pauses.clear();
    Drive().Drive.ClearLog();
    return succeeded;
}

bool DialogRig::Upgrade() {
    bench_.Press(ControlUpgrade);
    return Succeeded();
}

bool DialogRig::Save() {
    // An empty file is written without asking.
    bench_.Files.Files.erase(SavePath);
    bench_.Press(ControlSave);
    return Succeeded();
}
