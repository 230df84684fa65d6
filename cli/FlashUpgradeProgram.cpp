#include "cli/FlashUpgradeProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/FailureTexts.h"
#include "cli/FlashBackup.h"
#include "cli/JsonWriter.h"
#include "cli/ProgramTexts.h"
#include "cli/ReadyWait.h"
#include "upgrade/ChunkLoop.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"
#include "upgrade/OperationTexts.h"

using upgrade::FirmwareSlot;
using Kind = OperationOutcome::Kind;
using Cause = TransportFailure::Cause;

namespace {

constexpr uint32_t ImageSize = FirmwareSlot::ImageSize;
constexpr uint32_t ImageChunks = ImageSize / ChunkLoop::ChunkLength;
constexpr const char* RestartLine =
    "The new firmware takes effect when the drive restarts: power-cycle it or restart the computer.";

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

// Whether an upgrade's writes may have reached the flash: a write the drive accepted, or one that
// failed in a way that does not prove it never arrived (no answer, a link lost meanwhile). A
// call the kernel refused (any errno but an interrupted wait, which leaves the command running)
// never reached the drive, and a drive that answered CHECK CONDITION took nothing.
bool MayHaveWritten(const OperationOutcome& outcome) {
    if (outcome.Written == OperationOutcome::Writes::Nothing) return false;
    if (outcome.Written == OperationOutcome::Writes::Committed || outcome.ChunksAccepted != 0) return true;
    const TransportFailure& reason = outcome.Reason;
    if (reason.Error != 0 && reason.Error != EINTR) return false;
    return reason.Why != Cause::Refused && reason.Why != Cause::Answered;
}

// One drive of the list as a JSON object: its number, address, texts (trimmed and as sent),
// version, controller, flash size and node.
void DriveJson(JsonWriter& json, size_t number, const DeviceRecord& record,
               const SgIoTransport::ScsiAddress& address) {
    json.BeginObject();
    json.Key("number");
    json.Number(number);
    json.Key("host");
    json.Number(address.Host);
    json.Key("channel");
    json.Number(address.Channel);
    json.Key("target");
    json.Number(address.Target);
    json.Key("lun");
    json.Number(address.Lun);
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
      interruption_(platform.Signals),
      watch_(bar_, console_, interruption_),
      operations_(FirmwareOperations::Platform{platform.Files, platform.Sleep, platform.Buffers, platform.Slot}) {}

std::string FlashUpgradeProgram::Line(const DeviceRecord& drive) const {
    return ProgramTexts::DriveLine(drive, platform_.Transport.AddressOf(drive));
}

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
    if (options_.TimeOutSeconds != 0) platform_.Transport.SetTimeOut(options_.TimeOutSeconds * 1000);
    CommandTrace trace(console_, options_.Verbose);
    if (options_.Verbose != 0) {
        platform_.Transport.SetObserver(&trace);
        // The trace's lines would break the bar at every command.
        bar_.Enabled = false;
    }
    const int status = RunCommand();
    platform_.Transport.SetObserver(nullptr);
    return status;
}

int FlashUpgradeProgram::RunCommand() {
    switch (options_.Action) {
    case CommandLine::Command::Help: {
        const char* help = ProgramTexts::Help();
        platform_.Terminal.Write(TerminalApi::Stream::Out, help, std::strlen(help));
        return ExitDone;
    }
    case CommandLine::Command::Version: Out(ProgramTexts::Version()); return ExitDone;
    case CommandLine::Command::List: return List();
    case CommandLine::Command::Image: return Image();
    case CommandLine::Command::Upgrade: interruption_.Watch(); return Upgrade();
    case CommandLine::Command::Save: interruption_.Watch(); return Save();
    case CommandLine::Command::Verify: interruption_.Watch(); return Verify();
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
    if (const int signal = interruption_.Stop()) return Interrupted(signal, std::string());
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
    if (!options_.DevicePath.empty()) return ChooseByPath(drive);
    if (count == 1) {
        drive = *drives_.At(0);
        return 0;
    }
    Err("flashupgrade: " + std::to_string(count) + " drives found: name one with --drive N or --device PATH");
    for (size_t i = 0; i < count; ++i) {
        Err(std::to_string(i + 1) + ": " + Line(*drives_.At(i)) + " " +
            ProgramTexts::Node(*drives_.At(i)));
    }
    return ExitEnvironment;
}

int FlashUpgradeProgram::ChooseByPath(DeviceRecord& drive) {
    using PathIs = SgIoTransport::PathIs;
    const std::string& path = options_.DevicePath;
    size_t position = 0;
    int error = 0;
    switch (platform_.Transport.FindByPath(path, drives_, &position, &error)) {
    case PathIs::ListedDrive: drive = *drives_.At(position); return 0;
    case PathIs::Missing: Err("flashupgrade: " + path + ": no such file"); break;
    case PathIs::NotADevice: Err("flashupgrade: " + path + ": not a device node"); break;
    case PathIs::OtherDevice: Err("flashupgrade: no drive of the family at " + path); break;
    case PathIs::Unreadable: Err("flashupgrade: " + path + ": " + std::strerror(error)); break;
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
        for (size_t i = 0; i < drives_.Count(); ++i) {
            DriveJson(json, i + 1, *drives_.At(i), platform_.Transport.AddressOf(*drives_.At(i)));
        }
        json.EndArray();
        json.EndObject();
        Out(json.Text());
        return scanned;
    }
    for (size_t i = 0; i < drives_.Count(); ++i) {
        Out(std::to_string(i + 1) + ": " + Line(*drives_.At(i)) + " " +
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
    bool regular = true;
    const int error = platform_.FileSystem.Examine(path.c_str(), &length, &regular);
    if (error == ENOENT || (error == 0 && length == 0)) return 0;
    if (!options_.Yes && !platform_.Terminal.InputIsTerminal()) {
        Err("flashupgrade: " + path + " exists: add --yes to overwrite it where no one can be asked");
        return ExitEnvironment;
    }
    if (!ask) return 0;
    if (!console_.Confirm("File " + path + " Exist, Overwrite ?")) {
        if (const int signal = interruption_.Stop()) return Interrupted(signal, std::string());
        Out("File " + path + " Exist, User cancel ...");
        return ExitFailed;
    }
    return 0;
}

int FlashUpgradeProgram::Failed(const OperationOutcome& outcome, const DeviceRecord& drive, const std::string& path,
                                bool upgrade) {
    const TransportFailure& reason = outcome.Reason;
    if (reason.Why == Cause::Replaced) {
        Err(Replaced(drive));
        return ExitEnvironment;
    }
    const bool written = upgrade && MayHaveWritten(outcome);
    // The system refused the open, or every command, before anything was written: that, once,
    // is what happened; the operation's own text would only repeat it as a failure of the drive.
    if (!written && reason.Error != 0 && (outcome.Result == Kind::OpenFailed || reason.Lasting)) {
        Err(Refusal(reason));
        return ExitEnvironment;
    }
    Explain(outcome, drive, path);
    if (written) return Incomplete(drive);
    if (reason.Why == Cause::Gone) return ExitEnvironment;
    if (reason.Error == 0) return ExitFailed;
    return IsEnvironment(reason.Error) ? ExitEnvironment : ExitFailed;
}

void FlashUpgradeProgram::Explain(const OperationOutcome& outcome, const DeviceRecord& drive, const std::string& path) {
    const std::string text = OperationTexts::Status(outcome, drive, path);
    if (!text.empty()) Out(text);
    const std::string why = FailureTexts::Reason(outcome.Reason, platform_.Transport.TimeOut());
    if (!why.empty()) Err(why);
}

std::string FlashUpgradeProgram::Replaced(const DeviceRecord& drive) const {
    const DeviceRecord& now = platform_.Transport.Replacement();
    std::string answer;
    if (platform_.Transport.ReplacementOfFamily()) {
        answer = Line(now);
    } else if (now.Vendor[0] != '\0') {
        answer = std::string(now.Vendor, 8) + " " + std::string(now.Product, 16) + ", no drive of the family";
    } else {
        answer = "a device that is no drive of the family";
    }
    return "flashupgrade: " + ProgramTexts::Node(drive) + " now answers as " + answer + ", not as the listed " +
           Line(drive) + ": nothing was written";
}

int FlashUpgradeProgram::Incomplete(const DeviceRecord& drive) {
    Out("Do not power off or restart the computer or the drive: its firmware may be incomplete. Run the same "
        "upgrade again: " + platform_.Name + " upgrade --device " + ProgramTexts::Node(drive));
    return ExitIncomplete;
}

int FlashUpgradeProgram::Interrupted(int signal, const std::string& what) {
    Err(std::string("flashupgrade: stopped by ") + Interruption::Name(signal) +
        ": nothing was written to the drive" + (what.empty() ? "" : "; " + what + " left as it was"));
    return Interruption::Status(signal);
}

int FlashUpgradeProgram::KeepBackup(const DeviceRecord& drive) {
    const std::string& path = options_.BackupFile;
    FlashBackup keeper(operations_, platform_.FileSystem);
    Out(OperationTexts::SaveStarts());
    const OperationOutcome kept = keeper.Keep(platform_.Transport, drive, path, watch_);
    if (kept.Succeeded()) {
        Out("Back-up of the flash kept in " + path);
        return 0;
    }
    if (kept.Result == Kind::Stopped) return Interrupted(interruption_.Stop(), path);
    const int status = NotKept(kept, keeper, drive, path);
    Out("Back-up not kept: nothing was written to the drive");
    return status;
}

int FlashUpgradeProgram::NotKept(const OperationOutcome& outcome, const FlashBackup& keeper,
                                 const DeviceRecord& drive, const std::string& path) {
    if (keeper.FileError() == 0) return Failed(outcome, drive, path);
    Err("flashupgrade: " + path + ": " + std::strerror(keeper.FileError()));
    return ExitEnvironment;
}

int FlashUpgradeProgram::MayKeepIn(const std::string& path) {
    uint64_t length = 0;
    bool regular = true;
    const int error = platform_.FileSystem.Examine(path.c_str(), &length, &regular);
    // The new file is renamed over PATH: that would put a folder's or a device's name on it.
    if (error == 0 && !regular) {
        Err("flashupgrade: " + path + ": not a regular file");
        return ExitEnvironment;
    }
    return MayOverwrite(path, true);
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
        const int overwrite = MayKeepIn(options_.BackupFile);
        if (overwrite != 0) return overwrite;
    }
    if (!options_.DryRun) {
        if (!options_.Yes && !platform_.Terminal.InputIsTerminal()) {
            Err("flashupgrade: no terminal to ask before writing the firmware: add --yes");
            return ExitEnvironment;
        }
        const std::string question = "Write image version " + ImageVersion() + " to " + Line(drive) +
                                     (backup ? ", keeping a back-up of its flash in " + options_.BackupFile + "?"
                                             : ", without a back-up of its flash (--backup FILE keeps one)?");
        if (!console_.Confirm(question)) {
            if (const int signal = interruption_.Stop()) return Interrupted(signal, std::string());
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
    watch_.Writing("image version " + ImageVersion() + " is written to " + Line(drive) + " " +
                   ProgramTexts::Node(drive));
    const OperationOutcome outcome = operations_.Upgrade(platform_.Transport, drive, watch_, options_.DryRun);
    switch (outcome.Result) {
    case Kind::StoppedBeforeWriting:
        if (const int signal = interruption_.Stop()) return Interrupted(signal, std::string());
        Out("Dry run: " + Line(drive) + " " + ProgramTexts::Node(drive) +
            " would get image version " + ImageVersion() + "; nothing was written");
        return ExitDone;
    case Kind::Stopped: return Interrupted(interruption_.Stop(), std::string());
    case Kind::Done: return Committed(outcome, drive);
    case Kind::FlashSizeMismatch:
        Out("The drive's flash holds " + std::to_string(outcome.FlashSize) + " bytes, the image " +
            std::to_string(ImageSize) + ": nothing was written");
        return ExitFailed;
    default: return Failed(outcome, drive, std::string(), true);
    }
}

int FlashUpgradeProgram::Committed(const OperationOutcome& outcome, const DeviceRecord& drive) {
    // The new firmware may well answer with another version, or other texts: from here on the
    // drive at the node is the one just written.
    platform_.Transport.SetIdentityCheck(false);
    // The chunks went with the save mode: a refused commit leaves the flash written but the
    // upgrade not done.
    if (!outcome.CommitAccepted) {
        Out("The drive did not accept the commit of image version " + ImageVersion());
        const std::string why = FailureTexts::Reason(outcome.Reason, platform_.Transport.TimeOut());
        if (!why.empty()) Err(why);
        return Incomplete(drive);
    }
    if (!options_.NoVerify) return CheckAfterCommit(drive);
    Out(OperationTexts::Status(outcome, drive, std::string()));
    Out(RestartLine);
    Out("Committed; the flash was not read back after the commit (--no-verify)");
    return ExitDone;
}

int FlashUpgradeProgram::CheckAfterCommit(const DeviceRecord& drive) {
    Out("Committed: reading the whole flash back to compare it with the image");
    ReadyWait ready(platform_.Transport, platform_.Sleep);
    switch (ready.Wait(drive)) {
    case ReadyWait::Result::Ready: break;
    case ReadyWait::Result::NotReady:
        Out("The drive was still becoming ready " + std::to_string(ReadyWait::LimitMs / 1000) +
            " s after the commit; its flash was not read back");
        return Incomplete(drive);
    case ReadyWait::Result::Failed:
        Err(FailureTexts::Reason(ready.Reason(), platform_.Transport.TimeOut()));
        return Incomplete(drive);
    }
    const OperationOutcome check = operations_.Verify(platform_.Transport, drive, watch_);
    if (!check.Succeeded()) {
        // Whatever stopped the read-back, the image was written and committed: not verified.
        Explain(check, drive, std::string());
        return Incomplete(drive);
    }
    if (check.DifferingChunks != 0) {
        Out("flash differs from image version " + ImageVersion() + " in " + std::to_string(check.DifferingChunks) +
            " of " + std::to_string(ImageChunks) + " chunks after the commit");
        return Incomplete(drive);
    }
    Out(OperationTexts::Status(check, drive, std::string()));
    Out(RestartLine);
    Out("flash equals image version " + ImageVersion());
    return ExitDone;
}

int FlashUpgradeProgram::Save() {
    DeviceRecord drive;
    const int chosen = Choose(drive);
    if (chosen != 0) return chosen;
    const std::string& path = options_.File;
    const int overwrite = MayKeepIn(path);
    if (overwrite != 0) return overwrite;
    // The flash goes into a new file beside PATH that takes PATH's place only once it is whole
    // and on disk: a dump that fails leaves PATH as it was.
    FlashBackup keeper(operations_, platform_.FileSystem);
    Out(OperationTexts::SaveStarts());
    const OperationOutcome outcome = keeper.Keep(platform_.Transport, drive, path, watch_);
    if (outcome.Result == Kind::Stopped) return Interrupted(interruption_.Stop(), path);
    if (!outcome.Succeeded()) {
        const int status = NotKept(outcome, keeper, drive, path);
        Out(keeper.Replaced() ? path + " holds the flash, but may not survive a power cut"
                              : path + " left as it was");
        return status;
    }
    Out("Saved " + std::to_string(drive.FlashSize) + " bytes of flash from " + Line(drive) + " to " + path);
    return ExitDone;
}

int FlashUpgradeProgram::Verify() {
    DeviceRecord drive;
    const int chosen = ChooseForImage(drive);
    if (chosen != 0) return chosen;
    const OperationOutcome outcome = operations_.Verify(platform_.Transport, drive, watch_);
    if (outcome.Result == Kind::Stopped) return Interrupted(interruption_.Stop(), std::string());
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
