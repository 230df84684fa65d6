#pragma once

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "cli/FileSystemApi.h"
#include "cli/ProgressBar.h"
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
// Exit status: 0 when the command did what it says, 1 when the operation failed (its text says
// why), 2 when the command line or the system stood in the way (usage, permissions, a busy or
// vanished drive, a question that no one can answer).
class FlashUpgradeProgram {
public:
    static constexpr int ExitDone = 0;
    static constexpr int ExitFailed = 1;
    static constexpr int ExitEnvironment = 2;

    struct Platform {
        SgIoTransport& Transport;
        TerminalApi& Terminal;
        FileApi& Files;
        FileSystemApi& FileSystem;
        SleepApi& Sleep;
        WorkBufferAllocator& Buffers;
        const unsigned char* Slot;   // the program's firmware slot (head and image)
    };

    explicit FlashUpgradeProgram(const Platform& platform);

    // ARGUMENTS without the program's name.
    int Run(const std::vector<std::string>& arguments);

private:
    // Each returns the exit status.
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
    // The questions and the back-up before the first write to DRIVE; 0 to go on, or the exit status.
    int PrepareToWrite(const DeviceRecord& drive);
    int KeepBackup(const DeviceRecord& drive);
    // FILE, when it exists with content, may be overwritten: 0 to go on, or the exit status.
    // Asks on the terminal when ASK; otherwise only checks that someone could answer.
    int MayOverwrite(const std::string& path, bool ask);
    // Says why OUTCOME failed, for DRIVE and the file at PATH; the exit status.
    int Failed(const OperationOutcome& outcome, const DeviceRecord& drive, const std::string& path);
    std::string ImageVersion() const;
    bool ImageChecksumGood() const;

    void Out(const std::string& line);
    void Err(const std::string& line);

    Platform platform_;
    CommandLine options_;
    ProgressBar bar_;
    Console console_;
    FirmwareOperations operations_;
    DeviceList drives_;
};
