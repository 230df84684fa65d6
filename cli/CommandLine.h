#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The arguments of flashupgrade:
//   flashupgrade [list] [--json]
//   flashupgrade image [--json]
//   flashupgrade upgrade [DRIVES] [--yes] [--backup FILE] [--dry-run] [--no-verify] [--force]
//                        [--allow-older]
//   flashupgrade save FILE [DRIVES] [--yes]
//   flashupgrade verify [DRIVES]
// DRIVES is --drive N, --device PATH, --drive N,M,... or --all; the last two (and --json) run the
// command on several drives at once.
//   flashupgrade --help | --version
// upgrade, save and verify also take [--timeout SECONDS] [--verbose], and -v for --verbose.
// An option's value follows it as the next argument or after '='.
class CommandLine {
public:
    enum class Command { List, Image, Upgrade, Save, Verify, Help, Version };

    Command Action = Command::List;
    unsigned DriveNumber = 0;  // --drive N, counted from 1 as list shows them; 0: not given
    std::vector<unsigned> DriveNumbers;  // --drive N,M,...: every number, in the order given
    bool AllDrives = false;    // --all
    std::string DevicePath;    // --device PATH
    std::string File;          // save's FILE
    std::string BackupFile;    // --backup FILE
    bool Yes = false;
    bool DryRun = false;
    bool Json = false;
    bool NoVerify = false;       // --no-verify: no read-back of the whole flash after the commit
    bool Force = false;          // --force: write even a drive that holds the image, or runs a newer one
    bool AllowOlder = false;     // --allow-older: write an image older than the firmware the drive runs
    unsigned TimeOutSeconds = 0; // --timeout SECONDS for one command; 0: not given
    int Verbose = 0;             // --verbose (or -v) once: every command; twice: and its data

    static constexpr unsigned MaxTimeOutSeconds = 3600;

    // False with REASON (one line) when the arguments are not a command line of the program.
    bool Parse(const std::vector<std::string>& arguments, std::string& reason);
    bool NamesDrive() const { return DriveNumber != 0 || !DevicePath.empty(); }
    // Whether the command runs on several drives at once, with one result each.
    bool SeveralDrives() const { return AllDrives || DriveNumbers.size() > 1 || (Json && Action != Command::List && Action != Command::Image); }

private:
    // Each moves AT past what it took; false with REASON as Parse.
    bool ParseCommand(const std::vector<std::string>& arguments, size_t& at, std::string& reason);
    bool ParseArgument(const std::vector<std::string>& arguments, size_t& at, std::string& reason);
    bool SetOption(const std::string& option, const std::string& value, std::string& reason);
    // --drive's value: one number or several separated by commas.
    bool SetDrives(const std::string& value, std::string& reason);
    // What no single argument can tell: a drive named twice, save without its FILE.
    bool CheckComplete(std::string& reason) const;
};
