#pragma once

#include <string>

#include "cli/CommandLine.h"
#include "cli/DriveReport.h"
#include "cli/FileSystemApi.h"
#include "cli/FlashBackup.h"
#include "cli/Interruption.h"
#include "cli/UpgradePlan.h"
#include "transport/DeviceRecord.h"
#include "transport/SgIoTransport.h"
#include "upgrade/FirmwareOperations.h"
#include "upgrade/OperationOutcome.h"
#include "upgrade/OperationSink.h"
#include "upgrade/SleepApi.h"

// One drive's operation from its open to its last text: an upgrade with the check after its
// commit, a back-up, a save, a verify. It speaks through its report only and works on its own
// transport, so that several drives can each have one running at once. Each operation returns
// the exit status that this drive alone would give.
class DriveJob {
public:
    // What every drive's job shares with the others; each piece is safe to use from several
    // threads at once.
    struct Context {
        FirmwareOperations& Operations;
        FileSystemApi& FileSystem;
        SleepApi& Sleep;
        Interruption& Stops;
        const unsigned char* Slot;
        const CommandLine& Options;
        const std::string& ProgramName;   // as it was started, for the command to run again
    };

    // NUMBER: the drive's number as list shows it.
    DriveJob(const Context& context, SgIoTransport& transport, const DeviceRecord& drive, size_t number,
             DriveReport& report);

    // Before an upgrade: reads the whole flash (into BACKUP as well, when one is named), compares
    // it with the image and decides whether the upgrade writes (Writes()), saying so when it does
    // not or when the reason is worth a line. 0, or the exit status (an older image refused: 1).
    int Examine(const std::string& backup, OperationSink& sink);
    // Whether Examine decided that the upgrade writes.
    bool Writes() const { return examined_ && plan_.Writes(); }
    // Examine's decision, as a line about the drive; empty when there was none or it needs none.
    const std::string& PlanLine() const { return planLine_; }
    // Writes the image, commits and reads the flash back (the questions and the back-up are
    // behind). Honours --dry-run and --no-verify.
    int Upgrade(OperationSink& sink);
    int Save(const std::string& path, OperationSink& sink);
    int Verify(OperationSink& sink);

    // Whether a commit was sent to the drive.
    bool CommitSent() const { return commitSent_; }
    // What the upgrade came to, given its exit STATUS: "unchanged", "written" (with --dry-run:
    // what a real run would do), "refused-older", "partial" (something written, not complete)
    // or "failed" (nothing written).
    const char* Outcome(int status) const;
    // Whether the last Verify read the whole flash and found it other than the image.
    bool Differs() const { return differs_; }

    // "(H, C, T, L) VENDOR PRODUCT Version X.Y" of the drive with its whole address.
    std::string Line() const;
    // Ends the operation for SIGNAL with nothing written; WHAT is left as it was.
    int Interrupted(int signal, const std::string& what);
    // Says why OUTCOME failed, for the file at PATH; the exit status. For an upgrade (UPGRADE)
    // whose writes may have reached the flash, that status is 3 with its last line.
    int Failed(const OperationOutcome& outcome, const std::string& path, bool upgrade = false);

private:
    // The operation's status text on the standard output and the access layer's reason on the
    // standard error, each when there is one.
    void Explain(const OperationOutcome& outcome, const std::string& path);
    // The line and status for a drive whose flash, FLASHSIZE bytes, cannot hold the image.
    int CannotHold(uint32_t flashSize);
    // The last line and status of an upgrade that wrote something and did not complete.
    int Incomplete();
    // After the commit: the drive's answer, its restart, and the whole flash compared with the
    // image; the exit status.
    int Committed(const OperationOutcome& outcome, OperationSink& sink);
    int CheckAfterCommit(OperationSink& sink);
    // Tells why the flash was not kept in PATH (a file step's errno names PATH, status 2).
    int NotKept(const OperationOutcome& outcome, const FlashBackup& keeper, const std::string& path);
    // The line for a drive that now answers otherwise than when it was listed.
    std::string Replaced() const;
    std::string ImageVersion() const;
    // Examine's read of the flash: the outcome, or, when it did not succeed, the exit status
    // with its texts in STATUS.
    OperationOutcome ReadBeforeUpgrade(const std::string& backup, OperationSink& sink, int& status);

    Context context_;
    SgIoTransport& transport_;
    DeviceRecord drive_;
    size_t number_;
    DriveReport& report_;
    UpgradePlan plan_{UpgradePlan::Facts{}};
    std::string planLine_;
    bool examined_ = false;
    bool commitSent_ = false;
    bool differs_ = false;
};
