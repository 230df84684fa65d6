#include "cli/FlashUpgradeProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/FlashBackup.h"
#include "cli/JsonWriter.h"
#include "cli/ProgramTexts.h"
#include "upgrade/ChunkLoop.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"
#include "upgrade/OperationTexts.h"

using upgrade::FirmwareSlot;
using Kind = OperationOutcome::Kind;

namespace {

constexpr uint32_t ImageSize = FirmwareSlot::ImageSize;
constexpr uint32_t ImageChunks = ImageSize / ChunkLoop::ChunkLength;

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", unsigned{value});
    return text;
}

bool IsEnvironment(int error) {
    return error == EACCES || error == EPERM || error == EBUSY || error == ENOENT || error == ENXIO ||
           error == ENODEV;
}

// What the system refused, as one line.
std::string Refusal(const TransportFailure& reason) {
    // A block node refuses firmware commands to all but root; a generic node would not.
    if (reason.Error == EPERM && reason.Node.compare(0, 7, "/dev/sr") == 0) {
        return ProgramTexts::WriteRefused(reason.Node);
    }
    return ProgramTexts::EnvironmentError(reason.Error, reason.Node);
}

// One drive of the list as a JSON object: its number, address, texts (trimmed and as sent),
// version, controller, flash size and node.
void DriveJson(JsonWriter& json, size_t number, const DeviceRecord& record) {
    json.BeginObject();
    json.Key("number");
    json.Number(number);
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

}  // namespace

FlashUpgradeProgram::FlashUpgradeProgram(const Platform& platform)
    : platform_(platform),
      bar_(platform.Terminal),
      console_(platform.Terminal, bar_),
      operations_(FirmwareOperations::Platform{platform.Files, platform.Sleep, platform.Buffers, platform.Slot}) {}

void FlashUpgradeProgram::Out(const std::string& line) { console_.Line(TerminalApi::Stream::Out, line); }

void FlashUpgradeProgram::Err(const std::string& line) { console_.Line(TerminalApi::Stream::Error, line); }

int FlashUpgradeProgram::Run(const std::vector<std::string>& arguments) {
    std::string reason;
    if (!options_.Parse(arguments, reason)) {
        Err("flashupgrade: " + reason);
        Err("Try 'flashupgrade --help'.");
        return ExitEnvironment;
    }
    console_.AssumeYes = options_.Yes;
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
    platform_.Transport.EnumerateDevices(drives_);
    const std::vector<SgIoTransport::ScanFailure>& failures = platform_.Transport.ScanFailures();
    for (const SgIoTransport::ScanFailure& failure : failures) {
        Err(ProgramTexts::EnvironmentError(failure.Error, failure.Node));
    }
    if (drives_.Count() != 0) return 0;
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

int FlashUpgradeProgram::Choose(DeviceRecord& drive) {
    const int scanned = Scan();
    if (scanned != 0) return scanned;
    const size_t count = drives_.Count();
    if (options_.DriveNumber != 0) {
        if (options_.DriveNumber > count) {
            Err("flashupgrade: no drive " + std::to_string(options_.DriveNumber) + ": list shows " +
                std::to_string(count));
            return ExitEnvironment;
        }
        drive = *drives_.At(options_.DriveNumber - 1);
        return 0;
    }
    if (!options_.DevicePath.empty()) {
        for (size_t i = 0; i < count; ++i) {
            if (ProgramTexts::Node(*drives_.At(i)) == options_.DevicePath) {
                drive = *drives_.At(i);
                return 0;
            }
        }
        Err("flashupgrade: no drive of the family at " + options_.DevicePath);
        return ExitEnvironment;
    }
    if (count == 1) {
        drive = *drives_.At(0);
        return 0;
    }
    Err("flashupgrade: " + std::to_string(count) + " drives found: name one with --drive N or --device PATH");
    for (size_t i = 0; i < count; ++i) {
        Err(std::to_string(i + 1) + ": " + ProgramTexts::DriveLine(*drives_.At(i)) + " " +
            ProgramTexts::Node(*drives_.At(i)));
    }
    return ExitEnvironment;
}

int FlashUpgradeProgram::List() {
    const int scanned = Scan();
    if (options_.Json) {
        JsonWriter json;
        json.BeginObject();
        json.Key("drives");
        json.BeginArray();
        for (size_t i = 0; i < drives_.Count(); ++i) DriveJson(json, i + 1, *drives_.At(i));
        json.EndArray();
        json.EndObject();
        Out(json.Text());
        return scanned;
    }
    for (size_t i = 0; i < drives_.Count(); ++i) {
        Out(std::to_string(i + 1) + ": " + ProgramTexts::DriveLine(*drives_.At(i)) + " " +
            ProgramTexts::Node(*drives_.At(i)));
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
    if (!console_.Confirm("File " + path + " Exist, Overwrite ?")) {
        Out("File " + path + " Exist, User cancel ...");
        return ExitFailed;
    }
    return 0;
}

int FlashUpgradeProgram::Failed(const OperationOutcome& outcome, const DeviceRecord& drive, const std::string& path) {
    const TransportFailure& reason = outcome.Reason;
    // The system refused the open, or every command: that, once, is what happened; the
    // operation's own text would only repeat it as a failure of the drive.
    if (reason.Error != 0 && (outcome.Result == Kind::OpenFailed || reason.Lasting)) {
        Err(Refusal(reason));
        return ExitEnvironment;
    }
    const std::string text = OperationTexts::Status(outcome, drive, path);
    if (!text.empty()) Out(text);
    if (reason.Error == 0) return ExitFailed;
    Err(ProgramTexts::EnvironmentError(reason.Error, reason.Node));
    return IsEnvironment(reason.Error) ? ExitEnvironment : ExitFailed;
}

int FlashUpgradeProgram::KeepBackup(const DeviceRecord& drive) {
    const std::string& path = options_.BackupFile;
    FlashBackup keeper(operations_, platform_.FileSystem);
    Out(OperationTexts::SaveStarts());
    const OperationOutcome kept = keeper.Keep(platform_.Transport, drive, path, bar_);
    if (kept.Succeeded()) {
        Out("Back-up of the flash kept in " + path);
        return 0;
    }
    const int status = Failed(kept, drive, path);
    if (keeper.FileError() != 0) Err("flashupgrade: " + path + ": " + std::strerror(keeper.FileError()));
    Out("Back-up not kept: nothing was written to the drive");
    return status;
}

int FlashUpgradeProgram::PrepareToWrite(const DeviceRecord& drive) {
    // Questions and the back-up only where the operation would write: a drive whose flash
    // cannot hold the image and an image that fails its checksum end before the first write.
    if (drive.FlashSize != ImageSize || !ImageChecksumGood()) return 0;
    std::string node;
    if (platform_.Transport.WriteRefusal(drive, node) != 0) {
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
        const std::string question = "Write image version " + ImageVersion() + " to " + ProgramTexts::DriveLine(drive) +
                                     (backup ? ", keeping a back-up of its flash in " + options_.BackupFile + "?"
                                             : ", without a back-up of its flash (--backup FILE keeps one)?");
        if (!console_.Confirm(question)) {
            Out("Upgrade cancelled: nothing was written");
            return ExitFailed;
        }
    }
    return backup ? KeepBackup(drive) : 0;
}

int FlashUpgradeProgram::ChooseForImage(DeviceRecord& drive) {
    // An unfilled slot holds nothing to write or compare: no drive is looked for.
    if (!upgrade::SlotIsFilled(platform_.Slot)) {
        Out(OperationTexts::SlotUnfilled());
        return ExitFailed;
    }
    return Choose(drive);
}

int FlashUpgradeProgram::Upgrade() {
    DeviceRecord drive;
    const int chosen = ChooseForImage(drive);
    if (chosen != 0) return chosen;
    const int prepared = PrepareToWrite(drive);
    if (prepared != 0) return prepared;

    Out(OperationTexts::UpgradeStarts());
    const OperationOutcome outcome = operations_.Upgrade(platform_.Transport, drive, bar_, options_.DryRun);
    switch (outcome.Result) {
    case Kind::StoppedBeforeWriting:
        Out("Dry run: " + ProgramTexts::DriveLine(drive) + " " + ProgramTexts::Node(drive) +
            " would get image version " + ImageVersion() + "; nothing was written");
        return ExitDone;
    case Kind::Done:
        Out(OperationTexts::Status(outcome, drive, std::string()));
        Out("The new firmware takes effect when the drive restarts: power-cycle it or restart the computer.");
        return ExitDone;
    case Kind::FlashSizeMismatch:
        Out("The drive's flash holds " + std::to_string(outcome.FlashSize) + " bytes, the image " +
            std::to_string(ImageSize) + ": nothing was written");
        return ExitFailed;
    default: return Failed(outcome, drive, std::string());
    }
}

int FlashUpgradeProgram::Save() {
    DeviceRecord drive;
    const int chosen = Choose(drive);
    if (chosen != 0) return chosen;
    // The operation asks its own question; here only whether anyone can answer it.
    const int overwrite = MayOverwrite(options_.File, false);
    if (overwrite != 0) return overwrite;
    Out(OperationTexts::SaveStarts());
    const OperationOutcome outcome = operations_.Save(platform_.Transport, drive, options_.File, console_, bar_);
    if (!outcome.Succeeded()) return Failed(outcome, drive, options_.File);
    Out(OperationTexts::Status(outcome, drive, options_.File));
    return ExitDone;
}

int FlashUpgradeProgram::Verify() {
    DeviceRecord drive;
    const int chosen = ChooseForImage(drive);
    if (chosen != 0) return chosen;
    const OperationOutcome outcome = operations_.Verify(platform_.Transport, drive, bar_);
    if (outcome.Result == Kind::FlashSizeMismatch) {
        Out("The drive's flash holds " + std::to_string(outcome.FlashSize) + " bytes, the image " +
            std::to_string(ImageSize) + ": it cannot hold the image");
        return ExitFailed;
    }
    if (!outcome.Succeeded()) return Failed(outcome, drive, std::string());
    if (outcome.DifferingChunks == 0) {
        Out("flash equals image version " + ImageVersion());
        return ExitDone;
    }
    Out("flash differs from image version " + ImageVersion() + " in " + std::to_string(outcome.DifferingChunks) +
        " of " + std::to_string(ImageChunks) + " chunks");
    return ExitFailed;
}
