#pragma once

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/CommandTrace.h"
#include "cli/Console.h"
#include "cli/DriveJob.h"
#include "cli/DriveReport.h"
#include "cli/ExitStatus.h"
#include "cli/FileSystemApi.h"
#include "cli/Interruption.h"
#include "cli/OperationWatch.h"
#include "cli/ProgressBar.h"
#include "cli/SeveralDrives.h"
#include "cli/SignalApi.h"
#include "cli/TerminalApi.h"
#include "transport/DeviceList.h"
#include "transport/SgIoTransport.h"
#include "upgrade/FileApi.h"
#include "upgrade/FirmwareOperations.h"
#include "upgrade/OperationOutcome.h"
#include "upgrade/SleepApi.h"
#include "upgrade/WorkBufferAllocator.h"

// flashupgrade's front-end: the commands list, image, upgrade, save and verify over the same
// firmware operations as the dialog, with the terminal's bar as their sink and their outcomes
// turned into its texts and exit status.
//
// Exit status: 0 when the command did what it says (an upgrade: committed, and the flash read
// back equals the image; or the drive already held the image), 1 when the operation failed, or
// an older image was refused, with nothing written to the drive (its text says why), 2 when the command line or the system stood in the way before anything was
// written (usage, permissions, a busy or vanished drive, a drive that answers as another than the
// one listed, a file the system refused, a question that no one can answer), 3
// when something was written and the upgrade did not complete, 128+N when signal N stopped the
// program before anything was written. Over several drives, the worst of theirs (SeveralDrives).
class FlashUpgradeProgram final : private DriveReport {
public:
    static constexpr int ExitDone = ExitStatus::Done;
    static constexpr int ExitFailed = ExitStatus::Failed;
    static constexpr int ExitEnvironment = ExitStatus::Environment;
    static constexpr int ExitIncomplete = ExitStatus::Incomplete;

    struct Platform {
        SgIoTransport& Transport;
        TerminalApi& Terminal;
        FileApi& Files;
        FileSystemApi& FileSystem;
        SleepApi& Sleep;
        WorkBufferAllocator& Buffers;
        SignalApi& Signals;
        const unsigned char* Slot;   // the program's firmware slot (head and image)
        std::string Name = "flashupgrade";   // as it was started, for the command to run again
    };

    explicit FlashUpgradeProgram(const Platform& platform);

    // ARGUMENTS without the program's name.
    int Run(const std::vector<std::string>& arguments);

private:
    // Each returns the exit status.
    int RunCommand();
    int List();
    int Image();
    int Upgrade();
    int Save();
    int Verify();

    // Scans once; 0 when a drive was found, otherwise the exit status (the texts shown).
    int Scan();
    // Scans and takes the drive the command names, or the only one; 0, or the exit status.
    int Choose(DeviceRecord& drive);
    // The same for a command that needs the image: 1 with its text when the slot is unfilled.
    int ChooseForImage(DeviceRecord& drive);
    // What stands before the first write to DRIVE: the system's refusal, the back-up's file,
    // then JOB's reads of the flash and its decision; 0 (JOB says whether it writes), or the
    // exit status.
    int ExamineBeforeWriting(const DeviceRecord& drive, DriveJob& job);
    // The question before DRIVE is written (none for a dry run); 0 to go on, or the exit status.
    int AskToWrite(const DeviceRecord& drive);
    // The same for several DRIVES at once; 0, or the status with WHY, the line for each drive.
    int AskToWriteSeveral(const std::vector<SeveralDrives::Drive>& drives, std::string& why);
    static const char* NoOneToAsk();
    static const char* CancelledText();
    // The listed number of DRIVE; 0 when it is not listed.
    size_t NumberOf(const DeviceRecord& drive) const;
    // FILE, when it exists with content, may be overwritten: 0 to go on, or the exit status.
    // Asks on the terminal when ASK; otherwise only checks that someone could answer.
    int MayOverwrite(const std::string& path, bool ask);
    // Ends the program for SIGNAL with nothing written; WHAT is left as it was.
    int Interrupted(int signal, const std::string& what);
    // PATH may receive the flash: not a folder or a device, and, when it has content, the user
    // agrees to lose it. 0 to go on, or the exit status.
    int MayKeepIn(const std::string& path);
    // Upgrade, save or verify of several drives at once (--all, --drive N,M, --json).
    int Several();
    // Scans and takes the drives the command names; 0, or the exit status. IMAGE: the command
    // needs drives whose flash can hold the image (--all takes only those).
    int ChooseSeveral(std::vector<SeveralDrives::Drive>& chosen, bool image);
    // The checks and back-up files before several drives are examined; 0, or the exit status.
    int PrepareSeveral(std::vector<SeveralDrives::Drive>& chosen);
    // Each drive's file from PATTERN (a folder, a name with %n, or one file for one drive), each
    // checked as MayKeepIn does; 0, or the exit status.
    int FilesForSeveral(std::vector<SeveralDrives::Drive>& chosen, const std::string& pattern);
    std::string ChecksumMismatchText() const;
    DriveJob::Context JobContext();
    // Takes the listed drive whose node the --device path names; 0, or the exit status.
    int ChooseByPath(DeviceRecord& drive);
    // "(H, C, T, L) VENDOR PRODUCT Version X.Y" of DRIVE with its whole address.
    std::string Line(const DeviceRecord& drive) const;
    std::string ImageVersion() const;
    bool ImageChecksumGood() const;

    // The texts of the one drive's job go straight to the terminal.
    void Out(const std::string& line) override;
    void Err(const std::string& line) override;

    Platform platform_;
    CommandLine options_;
    ProgressBar bar_;
    Console console_;
    Interruption interruption_;
    OperationWatch watch_;
    FirmwareOperations operations_;
    DeviceList drives_;
};
