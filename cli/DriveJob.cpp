#include "cli/DriveJob.h"

#include <cerrno>
#include <cstring>

#include "cli/ExitStatus.h"
#include "cli/FailureTexts.h"
#include "cli/ProgramTexts.h"
#include "cli/ReadyWait.h"
#include "upgrade/ChunkLoop.h"
#include "upgrade/FirmwareSlot.h"
#include "upgrade/OperationTexts.h"

using Kind = OperationOutcome::Kind;
using Cause = TransportFailure::Cause;

namespace {

constexpr uint32_t ImageSize = upgrade::FirmwareSlot::ImageSize;
constexpr uint32_t ImageChunks = ImageSize / ChunkLoop::ChunkLength;

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

}  // namespace

DriveJob::DriveJob(const Context& context, SgIoTransport& transport, const DeviceRecord& drive, size_t number,
                   DriveReport& report)
    : context_(context), transport_(transport), drive_(drive), number_(number), report_(report) {}

std::string DriveJob::Line() const { return ProgramTexts::DriveLine(drive_, transport_.AddressOf(drive_)); }

std::string DriveJob::ImageVersion() const { return ProgramTexts::ImageVersion(context_.Slot); }

int DriveJob::Upgrade(OperationSink& sink) {
    const OperationOutcome outcome =
        context_.Operations.Upgrade(transport_, drive_, sink, context_.Options.DryRun);
    commitSent_ = outcome.Written == OperationOutcome::Writes::Committed;
    switch (outcome.Result) {
    case Kind::StoppedBeforeWriting:
        if (const int signal = context_.Stops.Stop()) return Interrupted(signal, std::string());
        report_.Out("Dry run: " + Line() + " " + ProgramTexts::Node(drive_) + " would get image version " +
                    ImageVersion() + "; nothing was written");
        return ExitStatus::Done;
    case Kind::Stopped: return Interrupted(context_.Stops.Stop(), std::string());
    case Kind::Done: return Committed(outcome, sink);
    case Kind::FlashSizeMismatch: return CannotHold(outcome.FlashSize);
    default: return Failed(outcome, std::string(), true);
    }
}

int DriveJob::CannotHold(uint32_t flashSize) {
    report_.Out("The drive's flash holds " + std::to_string(flashSize) + " bytes, the image " +
                std::to_string(ImageSize) + ": nothing was written");
    return ExitStatus::Failed;
}

int DriveJob::Committed(const OperationOutcome& outcome, OperationSink& sink) {
    // The new firmware may well answer with another version, or other texts: from here on the
    // drive at the node is the one just written.
    transport_.SetIdentityCheck(false);
    // The chunks went with the save mode: a refused commit leaves the flash written but the
    // upgrade not done.
    if (!outcome.CommitAccepted) {
        report_.Out("The drive did not accept the commit of image version " + ImageVersion());
        const std::string why = FailureTexts::Reason(outcome.Reason, transport_.TimeOut());
        if (!why.empty()) report_.Err(why);
        return Incomplete();
    }
    if (!context_.Options.NoVerify) return CheckAfterCommit(sink);
    report_.Out(OperationTexts::Status(outcome, drive_, std::string()));
    report_.Out(ProgramTexts::RestartLine());
    report_.Out("Committed; the flash was not read back after the commit (--no-verify)");
    return ExitStatus::Done;
}

int DriveJob::CheckAfterCommit(OperationSink& sink) {
    report_.Out("Committed: reading the whole flash back to compare it with the image");
    ReadyWait ready(transport_, context_.Sleep);
    switch (ready.Wait(drive_)) {
    case ReadyWait::Result::Ready: break;
    case ReadyWait::Result::NotReady:
        report_.Out("The drive was still becoming ready " + std::to_string(ReadyWait::LimitMs / 1000) +
                    " s after the commit; its flash was not read back");
        return Incomplete();
    case ReadyWait::Result::Failed:
        report_.Err(FailureTexts::Reason(ready.Reason(), transport_.TimeOut()));
        return Incomplete();
    }
    const OperationOutcome check = context_.Operations.Verify(transport_, drive_, sink);
    if (!check.Succeeded()) {
        // Whatever stopped the read-back, the image was written and committed: not verified.
        Explain(check, std::string());
        return Incomplete();
    }
    if (check.DifferingChunks != 0) {
        report_.Out("flash differs from image version " + ImageVersion() + " in " +
                    std::to_string(check.DifferingChunks) + " of " + std::to_string(ImageChunks) +
                    " chunks after the commit");
        return Incomplete();
    }
    report_.Out(OperationTexts::Status(check, drive_, std::string()));
    report_.Out(ProgramTexts::RestartLine());
    report_.Out("flash equals image version " + ImageVersion());
    return ExitStatus::Done;
}

int DriveJob::Failed(const OperationOutcome& outcome, const std::string& path, bool upgrade) {
    const TransportFailure& reason = outcome.Reason;
    if (reason.Why == Cause::Replaced) {
        report_.Err(Replaced());
        return ExitStatus::Environment;
    }
    const bool written = upgrade && MayHaveWritten(outcome);
    // The system refused the open, or every command, before anything was written: that, once,
    // is what happened; the operation's own text would only repeat it as a failure of the drive.
    if (!written && reason.Error != 0 && (outcome.Result == Kind::OpenFailed || reason.Lasting)) {
        report_.Err(Refusal(reason));
        return ExitStatus::Environment;
    }
    Explain(outcome, path);
    if (written) return Incomplete();
    if (reason.Why == Cause::Gone) return ExitStatus::Environment;
    if (reason.Error == 0) return ExitStatus::Failed;
    return IsEnvironment(reason.Error) ? ExitStatus::Environment : ExitStatus::Failed;
}

void DriveJob::Explain(const OperationOutcome& outcome, const std::string& path) {
    const std::string text = OperationTexts::Status(outcome, drive_, path);
    if (!text.empty()) report_.Out(text);
    const std::string why = FailureTexts::Reason(outcome.Reason, transport_.TimeOut());
    if (!why.empty()) report_.Err(why);
}

std::string DriveJob::Replaced() const {
    const DeviceRecord& now = transport_.Replacement();
    std::string answer;
    if (transport_.ReplacementOfFamily()) {
        answer = ProgramTexts::DriveLine(now, transport_.AddressOf(now));
    } else if (now.Vendor[0] != '\0') {
        answer = std::string(now.Vendor, 8) + " " + std::string(now.Product, 16) + ", no drive of the family";
    } else {
        answer = "a device that is no drive of the family";
    }
    return "flashupgrade: " + ProgramTexts::Node(drive_) + " now answers as " + answer + ", not as the listed " +
           Line() + ": nothing was written";
}

int DriveJob::Incomplete() {
    report_.Out("Do not power off or restart the computer or the drive: its firmware may be incomplete. Run the "
                "same upgrade again: " + context_.ProgramName + " upgrade --device " + ProgramTexts::Node(drive_));
    return ExitStatus::Incomplete;
}

int DriveJob::Interrupted(int signal, const std::string& what) {
    report_.Err(Interruption::Stopped(signal, what));
    return Interruption::Status(signal);
}

OperationOutcome DriveJob::ReadBeforeUpgrade(const std::string& backup, OperationSink& sink, int& status) {
    if (backup.empty()) {
        const OperationOutcome read = context_.Operations.Verify(transport_, drive_, sink);
        if (read.Result == Kind::Stopped) {
            status = Interrupted(context_.Stops.Stop(), std::string());
        } else if (!read.Succeeded()) {
            status = Failed(read, std::string());
            // The system's refusal is its own one line; a failed read needs the context.
            if (status == ExitStatus::Failed) {
                report_.Out("The drive's flash could not be read to compare it with the image: nothing was written");
            }
        }
        return read;
    }
    // The back-up is the same reads: the flash goes into the file and is compared on its way.
    FlashBackup keeper(context_.Operations, context_.FileSystem);
    report_.Out(OperationTexts::SaveStarts());
    const OperationOutcome kept = keeper.KeepAndCompare(transport_, drive_, backup, sink);
    if (kept.Succeeded()) {
        report_.Out("Back-up of the flash kept in " + backup);
    } else if (kept.Result == Kind::Stopped) {
        status = Interrupted(context_.Stops.Stop(), backup);
    } else {
        status = NotKept(kept, keeper, backup);
        report_.Out("Back-up not kept: nothing was written to the drive");
    }
    return kept;
}

int DriveJob::Examine(const std::string& backup, OperationSink& sink) {
    // A flash of another size cannot hold the image: refused before the first read.
    if (drive_.FlashSize != ImageSize) return CannotHold(drive_.FlashSize);
    int status = ExitStatus::Done;
    const OperationOutcome read = ReadBeforeUpgrade(backup, sink, status);
    if (!read.Succeeded()) return status;
    const CommandLine& options = context_.Options;
    plan_ = UpgradePlan({read.DifferingChunks, ImageChunks, drive_.VersionMajor, drive_.VersionMinor, ImageVersion(),
                         options.Force, options.AllowOlder});
    examined_ = true;
    // Over several drives each line is told beside the drive's name.
    planLine_ = plan_.Line(options.SeveralDrives() ? "the drive" : "Drive " + std::to_string(number_));
    if (!planLine_.empty()) report_.Out(planLine_);
    return plan_.Decided() == UpgradePlan::Decision::RefusedOlder ? ExitStatus::Failed : ExitStatus::Done;
}

const char* DriveJob::Outcome(int status) const {
    if (status == ExitStatus::Incomplete) return "partial";
    if (!examined_) return "failed";
    switch (plan_.Decided()) {
    case UpgradePlan::Decision::Unchanged: return status == ExitStatus::Done ? "unchanged" : "failed";
    case UpgradePlan::Decision::RefusedOlder: return "refused-older";
    default: return status == ExitStatus::Done ? "written" : "failed";
    }
}

int DriveJob::NotKept(const OperationOutcome& outcome, const FlashBackup& keeper, const std::string& path) {
    if (keeper.FileError() == 0) return Failed(outcome, path);
    report_.Err("flashupgrade: " + path + ": " + std::strerror(keeper.FileError()));
    return ExitStatus::Environment;
}

int DriveJob::Save(const std::string& path, OperationSink& sink) {
    // The flash goes into a new file beside PATH that takes PATH's place only once it is whole
    // and on disk: a dump that fails leaves PATH as it was.
    FlashBackup keeper(context_.Operations, context_.FileSystem);
    report_.Out(OperationTexts::SaveStarts());
    const OperationOutcome outcome = keeper.Keep(transport_, drive_, path, sink);
    if (outcome.Result == Kind::Stopped) return Interrupted(context_.Stops.Stop(), path);
    if (!outcome.Succeeded()) {
        const int status = NotKept(outcome, keeper, path);
        report_.Out(keeper.Replaced() ? path + " holds the flash, but may not survive a power cut"
                                      : path + " left as it was");
        return status;
    }
    report_.Out("Saved " + std::to_string(drive_.FlashSize) + " bytes of flash from " + Line() + " to " + path);
    return ExitStatus::Done;
}

int DriveJob::Verify(OperationSink& sink) {
    const OperationOutcome outcome = context_.Operations.Verify(transport_, drive_, sink);
    if (outcome.Result == Kind::Stopped) return Interrupted(context_.Stops.Stop(), std::string());
    if (outcome.Result == Kind::FlashSizeMismatch) {
        report_.Out("The drive's flash holds " + std::to_string(outcome.FlashSize) + " bytes, the image " +
                    std::to_string(ImageSize) + ": it cannot hold the image");
        return ExitStatus::Failed;
    }
    if (!outcome.Succeeded()) return Failed(outcome, std::string());
    if (outcome.DifferingChunks == 0) {
        report_.Out("flash equals image version " + ImageVersion());
        return ExitStatus::Done;
    }
    differs_ = true;
    report_.Out("flash differs from image version " + ImageVersion() + " in " +
                std::to_string(outcome.DifferingChunks) + " of " + std::to_string(ImageChunks) + " chunks");
    return ExitStatus::Failed;
}
