#pragma once

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/FileSystemApi.h"
#include "cli/ProgressBar.h"
#include "cli/TerminalApi.h"
#include "cli/TerminalView.h"
#include "cli/WatchedTransport.h"
#include "transport/SgIoTransport.h"
#include "upgrade/FileApi.h"
#include "upgrade/SleepApi.h"
#include "upgrade/UpgradeOperations.h"
#include "upgrade/WorkBufferAllocator.h"

// flashupgrade's front-end: the commands list, image, upgrade, save and verify over the same
// Upgrade and Save operations as the dialog, with the terminal as their view.
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
    // The drive the command names, or the only one; 0, or the exit status.
    int Select(int& position);
    // FILE, when it exists with content, may be overwritten: 0 to go on, or the exit status.
    // Asks on the terminal when ASK; otherwise only checks that someone could answer.
    int MayOverwrite(const std::string& path, bool ask);
    // The exit status of an operation that failed, after its own texts.
    int Failed();
    const DeviceRecord& Selected() const;
    std::string ImageVersion() const;
    bool ImageChecksumGood() const;

    void Out(const std::string& line);
    void Err(const std::string& line);

    Platform platform_;
    CommandLine options_;
    ProgressBar bar_;
    WatchedTransport transport_;
    TerminalView view_;
    UpgradeOperations operations_;
};
