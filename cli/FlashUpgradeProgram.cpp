#include "cli/FlashUpgradeProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/FlashBackup.h"
#include "cli/JsonWriter.h"
#include "cli/ProgramTexts.h"
#include "transport/ActiveTransport.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"

using upgrade::FirmwareSlot;

namespace {

constexpr uint32_t ImageSize = UpgradeOperations::UpgradeFlashSize;
constexpr uint32_t ImageChunks = ImageSize / UpgradeOperations::ChunkLength;

// Puts the program's transport in the operations' reach for one command.
class TransportInReach {
public:
    explicit TransportInReach(DriveTransport& transport) : previous_(ActiveTransport) { ActiveTransport = &transport; }
    ~TransportInReach() { ActiveTransport = previous_; }
    TransportInReach(const TransportInReach&) = delete;
    TransportInReach& operator=(const TransportInReach&) = delete;

private:
    DriveTransport* previous_;
};

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", unsigned{value});
    return text;
}

bool IsEnvironment(int error) {
    return error == EACCES || error == EPERM || error == EBUSY || error == ENOENT || error == ENXIO ||
           error == ENODEV;
}

}  // namespace

FlashUpgradeProgram::FlashUpgradeProgram(const Platform& platform)
    : platform_(platform),
      bar_(platform.Terminal),
      transport_(platform.Transport, bar_),
      view_(platform.Terminal, bar_, transport_),
      operations_(view_, UpgradeOperations::Platform{platform.Files, platform.Sleep, platform.Buffers, platform.Slot}) {}

void FlashUpgradeProgram::Out(const std::string& line) {
    view_.Line(TerminalApi::Stream::Out, line);
}

void FlashUpgradeProgram::Err(const std::string& line) {
    view_.Line(TerminalApi::Stream::Error, line);
}

int FlashUpgradeProgram::Run(const std::vector<std::string>& arguments) {
    std::string reason;
    if (!options_.Parse(arguments, reason)) {
        Err("flashupgrade: " + reason);
        Err("Try 'flashupgrade --help'.");
        return ExitEnvironment;
    }
    TransportInReach inReach(transport_);
    view_.AssumeYes = options_.Yes;
    transport_.DryRun = options_.DryRun;
    switch (options_.Action) {
    case CommandLine::Command::Help: {
        const char* help = ProgramTexts::Help();
        platform_.Terminal.Write(TerminalApi::Stream::Out, help, std::strlen(help));
        return ExitDone;
    }
    case CommandLine::Command::Version: Out(ProgramTexts::Version()); return ExitDone;
    case CommandLine::Command::List: return List();
    case CommandLine::Command::Image: return Image();
    case CommandLine::Command::Upgrade: return Upgrade();
    case CommandLine::Command::Save: return Save();
    case CommandLine::Command::Verify: return Verify();
    }
    return ExitEnvironment;
}

const DeviceRecord& FlashUpgradeProgram::Selected() const {
    return *operations_.DeviceList.At(static_cast<size_t>(view_.Selection));
}

std::string FlashUpgradeProgram::ImageVersion() const {
    char text[FirmwareSlot::VersionTextSize];
    upgrade::SlotText(reinterpret_cast<const char*>(platform_.Slot) + offsetof(FirmwareSlot, VersionText), text);
    return text;
}

bool FlashUpgradeProgram::ImageChecksumGood() const {
    const uint16_t expected =
        upgrade::ExpectedChecksum(reinterpret_cast<const char*>(platform_.Slot) + offsetof(FirmwareSlot, ChecksumText));
    return upgrade::ImageChecksum(platform_.Slot + offsetof(FirmwareSlot, Image), ImageSize) == expected;
}

int FlashUpgradeProgram::Scan() {
    DeviceList& list = operations_.DeviceList;
    transport_.EnumerateDevices(list);
    const std::vector<SgIoTransport::ScanFailure>& failures = platform_.Transport.ScanFailures();
    for (const SgIoTransport::ScanFailure& failure : failures) {
        Err(ProgramTexts::EnvironmentError(failure.Error, failure.Node));
    }
    if (list.Count() != 0) return 0;
    if (!failures.empty()) {
        char line[128];
        std::snprintf(line, sizeof line, "flashupgrade: found %zu CD/DVD device%s but could open none", failures.size(),
                      failures.size() == 1 ? "" : "s");
        Err(line);
        return ExitEnvironment;
    }
    Err("No Optical Media Found!!");
    return ExitFailed;
}

int FlashUpgradeProgram::Select(int& position) {
    const DeviceList& list = operations_.DeviceList;
    const size_t count = list.Count();
    if (options_.DriveNumber != 0) {
        if (options_.DriveNumber > count) {
            Err("flashupgrade: no drive " + std::to_string(options_.DriveNumber) + ": list shows " +
                std::to_string(count));
            return ExitEnvironment;
        }
        position = static_cast<int>(options_.DriveNumber - 1);
        return 0;
    }
    if (!options_.DevicePath.empty()) {
        for (size_t i = 0; i < count; ++i) {
            if (ProgramTexts::Node(*list.At(i)) == options_.DevicePath) {
                position = static_cast<int>(i);
                return 0;
            }
        }
        Err("flashupgrade: no drive of the family at " + options_.DevicePath);
        return ExitEnvironment;
    }
    if (count == 1) {
        position = 0;
        return 0;
    }
    Err("flashupgrade: " + std::to_string(count) + " drives found: name one with --drive N or --device PATH");
    for (size_t i = 0; i < count; ++i) {
        Err(std::to_string(i + 1) + ": " + ProgramTexts::DriveLine(*list.At(i)) + " " + ProgramTexts::Node(*list.At(i)));
    }
    return ExitEnvironment;
}

int FlashUpgradeProgram::List() {
    const int scanned = Scan();
    const DeviceList& list = operations_.DeviceList;
    if (options_.Json) {
        JsonWriter json;
        json.BeginObject();
        json.Key("drives");
        json.BeginArray();
        for (size_t i = 0; i < list.Count(); ++i) {
            const DeviceRecord& record = *list.At(i);
            json.BeginObject();
            json.Key("number");
            json.Number(i + 1);
            json.Key("host");
            json.Number(record.PortNumber);
            json.Key("channel");
            json.Number(record.PathId);
            json.Key("target");
            json.Number(record.TargetId);
            json.Key("lun");
            json.Number(record.Lun);
            json.Key("vendor");
            json.String(ProgramTexts::Trimmed(record.Vendor, sizeof record.Vendor));
            json.Key("product");
            json.String(ProgramTexts::Trimmed(record.Product, sizeof record.Product));
            json.Key("vendorField");
            json.String(std::string(record.Vendor, strnlen(record.Vendor, sizeof record.Vendor)));
            json.Key("productField");
            json.String(std::string(record.Product, strnlen(record.Product, sizeof record.Product)));
            json.Key("version");
            json.String(std::to_string(record.VersionMajor) + "." + std::to_string(record.VersionMinor));
            json.Key("versionMajor");
            json.Number(record.VersionMajor);
            json.Key("versionMinor");
            json.Number(record.VersionMinor);
            json.Key("controllerId");
            json.String(Hex4(record.ControllerId));
            json.Key("flashSize");
            json.Number(record.FlashSize);
            json.Key("node");
            json.String(ProgramTexts::Node(record));
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
        Out(json.Text());
        return scanned;
    }
    for (size_t i = 0; i < list.Count(); ++i) {
        Out(std::to_string(i + 1) + ": " + ProgramTexts::DriveLine(*list.At(i)) + " " + ProgramTexts::Node(*list.At(i)));
    }
    return scanned;
}

int FlashUpgradeProgram::Image() {
    const bool filled = upgrade::SlotIsFilled(platform_.Slot);
    const uint16_t expected =
        upgrade::ExpectedChecksum(reinterpret_cast<const char*>(platform_.Slot) + offsetof(FirmwareSlot, ChecksumText));
    const uint16_t computed = upgrade::ImageChecksum(platform_.Slot + offsetof(FirmwareSlot, Image), ImageSize);
    std::string text;
    if (!filled) {
        text = "Need Combine firmware first !!";
    } else if (computed != expected) {
        char mismatch[upgrade::ChecksumMismatchTextSize];
        upgrade::FormatChecksumMismatch(mismatch, sizeof mismatch, computed, expected);
        text = mismatch;
    } else {
        text = "image version " + ImageVersion() + ", checksum " + Hex4(computed) + ", good";
    }
    const bool good = filled && computed == expected;
    if (options_.Json) {
        JsonWriter json;
        json.BeginObject();
        json.Key("filled");
        json.Boolean(filled);
        if (filled) {
            json.Key("version");
            json.String(ImageVersion());
            json.Key("checksum");
            json.String(Hex4(expected));
            json.Key("computedChecksum");
            json.String(Hex4(computed));
            json.Key("size");
            json.Number(ImageSize);
        }
        json.Key("good");
        json.Boolean(good);
        json.EndObject();
        Out(json.Text());
        if (!good) Err(text);
    } else {
        Out(text);
    }
    return good ? ExitDone : ExitFailed;
}

int FlashUpgradeProgram::MayOverwrite(const std::string& path, bool ask) {
    uint64_t length = 0;
    const int error = platform_.FileSystem.FileLength(path.c_str(), &length);
    if (error == ENOENT || (error == 0 && length == 0)) return 0;
    if (!options_.Yes && !platform_.Terminal.InputIsTerminal()) {
        Err("flashupgrade: " + path + " exists: add --yes to overwrite it where no one can be asked");
        return ExitEnvironment;
    }
    if (!ask) return 0;
    if (!view_.Confirm("File " + path + " Exist, Overwrite ?")) {
        Out("File " + path + " Exist, User cancel ...");
        return ExitFailed;
    }
    return 0;
}

int FlashUpgradeProgram::Failed() {
    if (transport_.Stopped() == WatchedTransport::Stop::Environment) {
        const SgIoTransport& inner = platform_.Transport;
        // A block node refuses firmware commands to all but root; a generic node would not.
        Err(inner.LastError() == EPERM && inner.LastErrorNode().compare(0, 7, "/dev/sr") == 0
                ? ProgramTexts::WriteRefused(inner.LastErrorNode())
                : ProgramTexts::EnvironmentError(inner.LastError(), inner.LastErrorNode()));
        return ExitEnvironment;
    }
    const int error = platform_.Transport.LastError();
    if (error != 0) {
        Err(ProgramTexts::EnvironmentError(error, platform_.Transport.LastErrorNode()));
        if (IsEnvironment(error)) return ExitEnvironment;
    }
    return ExitFailed;
}

int FlashUpgradeProgram::Upgrade() {
    // An unfilled slot holds nothing to write: no drive is opened for it.
    if (!upgrade::SlotIsFilled(platform_.Slot)) {
        Out("Need Combine firmware first !!");
        return ExitFailed;
    }
    const int scanned = Scan();
    if (scanned != 0) return scanned;
    const int selected = Select(view_.Selection);
    if (selected != 0) return selected;
    const DeviceRecord record = Selected();

    // Questions and the back-up only where the operation would write: a drive whose flash
    // cannot hold the image and an image that fails its checksum end before the first write.
    const bool wouldWrite = record.FlashSize == ImageSize && ImageChecksumGood();
    if (wouldWrite) {
        std::string node;
        if (platform_.Transport.WriteRefusal(record, node) != 0) {
            Err(ProgramTexts::WriteRefused(node));
            return ExitEnvironment;
        }
        const bool backup = !options_.BackupFile.empty();
        if (backup) {
            const int overwrite = MayOverwrite(options_.BackupFile, true);
            if (overwrite != 0) return overwrite;
        }
        if (!options_.DryRun) {
            if (!options_.Yes && !platform_.Terminal.InputIsTerminal()) {
                Err("flashupgrade: no terminal to ask before writing the firmware: add --yes");
                return ExitEnvironment;
            }
            const std::string question =
                "Write image version " + ImageVersion() + " to " + ProgramTexts::DriveLine(record) +
                (backup ? ", keeping a back-up of its flash in " + options_.BackupFile + "?"
                        : ", without a back-up of its flash (--backup FILE keeps one)?");
            if (!view_.Confirm(question)) {
                Out("Upgrade cancelled: nothing was written");
                return ExitFailed;
            }
        }
        if (backup) {
            FlashBackup keeper(operations_, view_, platform_.FileSystem, platform_.Buffers);
            if (!keeper.Keep(record, options_.BackupFile)) {
                const int status = Failed();
                Out("Back-up not kept: nothing was written to the drive");
                return status;
            }
        }
    }

    operations_.OnUpgrade();
    if (options_.DryRun && transport_.Stopped() == WatchedTransport::Stop::DryRun) {
        Out("Dry run: " + ProgramTexts::DriveLine(record) + " " + ProgramTexts::Node(record) +
            " would get image version " + ImageVersion() + "; nothing was written");
        return ExitDone;
    }
    if (transport_.Stopped() == WatchedTransport::Stop::None && operations_.UpgradeSucceeded) {
        Out("The new firmware takes effect when the drive restarts: power-cycle it or restart the computer.");
        return ExitDone;
    }
    if (transport_.Stopped() == WatchedTransport::Stop::None && record.FlashSize != ImageSize) {
        Out("The drive's flash holds " + std::to_string(record.FlashSize) + " bytes, the image " +
            std::to_string(ImageSize) + ": nothing was written");
        return ExitFailed;
    }
    return Failed();
}

int FlashUpgradeProgram::Save() {
    const int scanned = Scan();
    if (scanned != 0) return scanned;
    const int selected = Select(view_.Selection);
    if (selected != 0) return selected;
    // The operation asks its own question; here only whether anyone can answer it.
    const int overwrite = MayOverwrite(options_.File, false);
    if (overwrite != 0) return overwrite;
    operations_.FirmwarePath = options_.File;
    operations_.OnSave();
    if (transport_.Stopped() == WatchedTransport::Stop::None &&
        view_.LastStatus() == "Upgrade Firmware Successful!!") {
        return ExitDone;
    }
    return Failed();
}

int FlashUpgradeProgram::Verify() {
    if (!upgrade::SlotIsFilled(platform_.Slot)) {
        Out("Need Combine firmware first !!");
        return ExitFailed;
    }
    const int scanned = Scan();
    if (scanned != 0) return scanned;
    const int selected = Select(view_.Selection);
    if (selected != 0) return selected;
    const DeviceRecord record = Selected();
    if (record.FlashSize != ImageSize) {
        Out("The drive's flash holds " + std::to_string(record.FlashSize) + " bytes, the image " +
            std::to_string(ImageSize) + ": it cannot hold the image");
        return ExitFailed;
    }
    if (!ActiveTransport->OpenDevice(record)) {
        char text[160];
        std::snprintf(text, sizeof text, "Open Device (%u %u)%s%s Failed!!", unsigned{record.PathId},
                      unsigned{record.TargetId}, record.Vendor, record.Product);
        view_.ShowStatus(text);
        return Failed();
    }
    operations_.ImageBuffer = platform_.Buffers.Obtain(ImageSize);
    if (operations_.ImageBuffer == nullptr) {
        ActiveTransport->CloseDevice();
        view_.ShowStatus("Memory (Write) Initialization Failed!!");
        return ExitFailed;
    }
    std::memset(operations_.ImageBuffer, 0, ImageSize);
    const bool dumped = operations_.DumpFlash();
    ActiveTransport->CloseDevice();
    unsigned differing = 0;
    if (dumped) {
        const unsigned char* image = platform_.Slot + offsetof(FirmwareSlot, Image);
        for (uint32_t chunk = 0; chunk < ImageChunks; ++chunk) {
            const uint32_t at = chunk * UpgradeOperations::ChunkLength;
            if (std::memcmp(operations_.ImageBuffer + at, image + at, UpgradeOperations::ChunkLength) != 0) ++differing;
        }
    }
    platform_.Buffers.Release(operations_.ImageBuffer);
    operations_.ImageBuffer = nullptr;
    if (!dumped) return Failed();
    if (differing == 0) {
        Out("flash equals image version " + ImageVersion());
        return ExitDone;
    }
    Out("flash differs from image version " + ImageVersion() + " in " + std::to_string(differing) + " of " +
        std::to_string(ImageChunks) + " chunks");
    return ExitFailed;
}
