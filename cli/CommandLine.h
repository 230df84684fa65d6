#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The arguments of flashupgrade:
//   flashupgrade [list] [--json]
//   flashupgrade image [--json]
//   flashupgrade upgrade [--drive N | --device PATH] [--yes] [--backup FILE] [--dry-run] [--no-verify]
//   flashupgrade save FILE [--drive N | --device PATH] [--yes]
//   flashupgrade verify [--drive N | --device PATH]
//   flashupgrade --help | --version
// upgrade, save and verify also take [--timeout SECONDS] [--verbose], and -v for --verbose.
// An option's value follows it as the next argument or after '='.
class CommandLine {
public:
    enum class Command { List, Image, Upgrade, Save, Verify, Help, Version };

    Command Action = Command::List;
    unsigned DriveNumber = 0;  // --drive N, counted from 1 as list shows them; 0: not given
    std::string DevicePath;    // --device PATH
    std::string File;          // save's FILE
    std::string BackupFile;    // --backup FILE
    bool Yes = false;
    bool DryRun = false;
    bool Json = false;
    bool NoVerify = false;       // --no-verify: no read-back of the whole flash after the commit
    unsigned TimeOutSeconds = 0; // --timeout SECONDS for one command; 0: not given
    int Verbose = 0;             // --verbose (or -v) once: every command; twice: and its data

    static constexpr unsigned MaxTimeOutSeconds = 3600;

    // False with REASON (one line) when the arguments are not a command line of the program.
    bool Parse(const std::vector<std::string>& arguments, std::string& reason);
    bool NamesDrive() const { return DriveNumber != 0 || !DevicePath.empty(); }

private:
    // Each moves AT past what it took; false with REASON as Parse.
    bool ParseCommand(const std::vector<std::string>& arguments, size_t& at, std::string& reason);
    bool ParseArgument(const std::vector<std::string>& arguments, size_t& at, std::string& reason);
    bool SetOption(const std::string& option, const std::string& value, std::string& reason);
    // What no single argument can tell: a drive named twice, save without its FILE.
    bool CheckComplete(std::string& reason) const;
};
