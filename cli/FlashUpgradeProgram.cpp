#include "cli/FlashUpgradeProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/JsonWriter.h"
#include "cli/ProgramTexts.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"
#include "upgrade/OperationTexts.h"

using upgrade::FirmwareSlot;

namespace {

constexpr uint32_t ImageSize = FirmwareSlot::ImageSize;

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", unsigned{value});
    return text;
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

std::string FlashUpgradeProgram::ImageVersion() const { return ProgramTexts::ImageVersion(platform_.Slot); }

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
            json.BeginObject();
            ProgramTexts::DriveFields(json, i + 1, *drives_.At(i), platform_.Transport.AddressOf(*drives_.At(i)));
            json.EndObject();
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
        text = ChecksumMismatchText();
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

int FlashUpgradeProgram::Interrupted(int signal, const std::string& what) {
    Err(Interruption::Stopped(signal, what, options_.SeveralDrives()));
    return Interruption::Status(signal);
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

int FlashUpgradeProgram::ExamineBeforeWriting(const DeviceRecord& drive, DriveJob& job) {
    std::string node;
    if (platform_.Transport.WriteRefusal(drive, node) != 0) {
        Err(ProgramTexts::WriteRefused(node));
        return ExitEnvironment;
    }
    const std::string& backup = options_.BackupFile;
    if (!backup.empty()) {
        const int overwrite = MayKeepIn(backup);
        if (overwrite != 0) return overwrite;
    }
    return job.Examine(backup, watch_);
}

int FlashUpgradeProgram::AskToWrite(const DeviceRecord& drive) {
    if (options_.DryRun) return 0;
    if (!options_.Yes && !platform_.Terminal.InputIsTerminal()) {
        Err(NoOneToAsk());
        return ExitEnvironment;
    }
    const bool backup = !options_.BackupFile.empty();
    const std::string question = "Write image version " + ImageVersion() + " to " + Line(drive) +
                                 (backup ? ", its old flash kept in " + options_.BackupFile + "?"
                                         : ", without a back-up of its flash (--backup FILE keeps one)?");
    if (console_.Confirm(question)) return 0;
    if (const int signal = interruption_.Stop()) return Interrupted(signal, std::string());
    Out(CancelledText());
    return ExitFailed;
}

const char* FlashUpgradeProgram::NoOneToAsk() {
    return "flashupgrade: no terminal to ask before writing the firmware: add --yes";
}

const char* FlashUpgradeProgram::CancelledText() { return "Upgrade cancelled: nothing was written"; }

size_t FlashUpgradeProgram::NumberOf(const DeviceRecord& drive) const {
    for (size_t i = 0; i < drives_.Count(); ++i) {
        if (ProgramTexts::Node(*drives_.At(i)) == ProgramTexts::Node(drive)) return i + 1;
    }
    return 0;
}

int FlashUpgradeProgram::ChooseForImage(DeviceRecord& drive) {
    // An unfilled slot holds nothing to write or compare: no drive is looked for.
    if (!upgrade::SlotIsFilled(platform_.Slot)) {
        Out(OperationTexts::SlotUnfilled());
        return ExitFailed;
    }
    return Choose(drive);
}

DriveJob::Context FlashUpgradeProgram::JobContext() {
    return {operations_, platform_.FileSystem, platform_.Sleep, interruption_, platform_.Slot, options_,
            platform_.Name};
}

int FlashUpgradeProgram::Upgrade() {
    if (options_.SeveralDrives()) return Several();
    DeviceRecord drive;
    const int chosen = ChooseForImage(drive);
    if (chosen != 0) return chosen;
    DriveJob job(JobContext(), platform_.Transport, drive, NumberOf(drive), *this);
    // A drive whose flash cannot hold the image and an image that fails its checksum end in the
    // operation, before the first write, with its text: nothing to read or ask first.
    if (drive.FlashSize == ImageSize && ImageChecksumGood()) {
        const int examined = ExamineBeforeWriting(drive, job);
        if (examined != 0 || !job.Writes()) return examined;
        const int asked = AskToWrite(drive);
        if (asked != 0) return asked;
    }
    Out(OperationTexts::UpgradeStarts());
    watch_.Writing("image version " + ImageVersion() + " is written to " + Line(drive) + " " +
                   ProgramTexts::Node(drive));
    return job.Upgrade(watch_);
}

int FlashUpgradeProgram::Save() {
    if (options_.SeveralDrives()) return Several();
    DeviceRecord drive;
    const int chosen = Choose(drive);
    if (chosen != 0) return chosen;
    const int overwrite = MayKeepIn(options_.File);
    if (overwrite != 0) return overwrite;
    return DriveJob(JobContext(), platform_.Transport, drive, NumberOf(drive), *this).Save(options_.File, watch_);
}

int FlashUpgradeProgram::Verify() {
    if (options_.SeveralDrives()) return Several();
    DeviceRecord drive;
    const int chosen = ChooseForImage(drive);
    if (chosen != 0) return chosen;
    return DriveJob(JobContext(), platform_.Transport, drive, NumberOf(drive), *this).Verify(watch_);
}

int FlashUpgradeProgram::Several() {
    using Command = CommandLine::Command;
    const bool image = options_.Action != Command::Save;
    if (image && !upgrade::SlotIsFilled(platform_.Slot)) {
        Out(OperationTexts::SlotUnfilled());
        return ExitFailed;
    }
    std::vector<SeveralDrives::Drive> chosen;
    int status = ChooseSeveral(chosen, image);
    if (status == 0 && options_.Action == Command::Upgrade) status = PrepareSeveral(chosen);
    if (status == 0 && options_.Action == Command::Save) status = FilesForSeveral(chosen, options_.File);
    if (status != 0) return status;
    SeveralDrives run(JobContext(), platform_.Transport, console_, platform_.Terminal, chosen);
    switch (options_.Action) {
    case Command::Upgrade:
        return run.Upgrade([this](const std::vector<SeveralDrives::Drive>& drives, std::string& why) {
            return AskToWriteSeveral(drives, why);
        });
    case Command::Save: return run.Save();
    default: return run.Verify();
    }
}

int FlashUpgradeProgram::ChooseSeveral(std::vector<SeveralDrives::Drive>& chosen, bool image) {
    if (!options_.AllDrives && options_.DriveNumbers.size() <= 1) {
        // One drive, named or the only one, with one result (--json).
        DeviceRecord drive;
        const int status = Choose(drive);
        if (status != 0) return status;
        chosen.push_back({NumberOf(drive), drive, ""});
        return 0;
    }
    const int scanned = Scan();
    if (const int signal = interruption_.Stop()) return Interrupted(signal, std::string());
    if (scanned != 0) return scanned;
    const size_t count = drives_.Count();
    for (unsigned number : options_.DriveNumbers) {
        if (number > count) {
            Err("flashupgrade: no drive " + std::to_string(number) + ": list shows " + std::to_string(count));
            return ExitEnvironment;
        }
        chosen.push_back({number, *drives_.At(number - 1), ""});
    }
    if (!options_.AllDrives) return 0;
    for (size_t i = 0; i < count; ++i) {
        const DeviceRecord& drive = *drives_.At(i);
        if (!image || drive.FlashSize == ImageSize) {
            chosen.push_back({i + 1, drive, ""});
            continue;
        }
        Err("flashupgrade: drive " + std::to_string(i + 1) + " " + ProgramTexts::Node(drive) +
            " left out: its flash holds " + std::to_string(drive.FlashSize) + " bytes, the image " +
            std::to_string(ImageSize));
    }
    if (!chosen.empty()) return 0;
    Out("No listed drive's flash can hold the image (" + std::to_string(ImageSize) + " bytes): nothing was written");
    return ExitFailed;
}

int FlashUpgradeProgram::PrepareSeveral(std::vector<SeveralDrives::Drive>& chosen) {
    if (!ImageChecksumGood()) {
        Out(ChecksumMismatchText());
        return ExitFailed;
    }
    int refused = 0;
    for (const SeveralDrives::Drive& drive : chosen) {
        std::string node;
        if (platform_.Transport.WriteRefusal(drive.Record, node) == 0) continue;
        Err(ProgramTexts::WriteRefused(node));
        refused = ExitEnvironment;
    }
    if (refused != 0) return refused;
    const std::string& backup = options_.BackupFile;
    if (!backup.empty()) {
        const int files = FilesForSeveral(chosen, backup);
        if (files != 0) return files;
    }
    return 0;
}

int FlashUpgradeProgram::AskToWriteSeveral(const std::vector<SeveralDrives::Drive>& drives, std::string& why) {
    if (options_.DryRun) return 0;
    if (!options_.Yes && !platform_.Terminal.InputIsTerminal()) {
        why = NoOneToAsk();
        return ExitEnvironment;
    }
    std::string question = "Write image version " + ImageVersion() + " to " + std::to_string(drives.size()) +
                           (drives.size() == 1 ? " drive:\n" : " drives at once:\n");
    for (const SeveralDrives::Drive& drive : drives) {
        question += "  Drive " + std::to_string(drive.Number) + " " + Line(drive.Record) + " " +
                    ProgramTexts::Node(drive.Record) + "\n";
    }
    question += options_.BackupFile.empty() ? "without back-ups of their flash (--backup FOLDER keeps them)?"
                                            : "with each drive's old flash kept in " + options_.BackupFile + "?";
    if (console_.Confirm(question)) return 0;
    // A signal at the question ends the run, which says so itself.
    why = CancelledText();
    return ExitFailed;
}

int FlashUpgradeProgram::FilesForSeveral(std::vector<SeveralDrives::Drive>& chosen, const std::string& pattern) {
    const bool numbered = SeveralDrives::HasNumber(pattern);
    uint64_t length = 0;
    bool regular = true;
    const bool folder = !numbered && platform_.FileSystem.Examine(pattern.c_str(), &length, &regular) == 0 && !regular;
    if (!numbered && !folder && chosen.size() > 1) {
        Err("flashupgrade: " + pattern + " names one file for " + std::to_string(chosen.size()) +
            " drives: give a folder, or a name holding %n for each drive's number");
        return ExitEnvironment;
    }
    for (SeveralDrives::Drive& drive : chosen) {
        drive.File = numbered || folder ? SeveralDrives::FileFor(pattern, drive.Number, folder) : pattern;
        const int overwrite = MayKeepIn(drive.File);
        if (overwrite != 0) return overwrite;
    }
    return 0;
}

std::string FlashUpgradeProgram::ChecksumMismatchText() const {
    const uint16_t expected =
        upgrade::ExpectedChecksum(reinterpret_cast<const char*>(platform_.Slot) + offsetof(FirmwareSlot, ChecksumText));
    const uint16_t computed = upgrade::ImageChecksum(platform_.Slot + offsetof(FirmwareSlot, Image), ImageSize);
    char mismatch[upgrade::ChecksumMismatchTextSize];
    upgrade::FormatChecksumMismatch(mismatch, sizeof mismatch, computed, expected);
    return mismatch;
}
