#include "cli/CommandLine.h"

#include <cstddef>

namespace {

struct CommandName {
    const char* Name;
    CommandLine::Command Action;
};

const CommandName Commands[] = {
    {"list", CommandLine::Command::List},       {"image", CommandLine::Command::Image},
    {"upgrade", CommandLine::Command::Upgrade}, {"save", CommandLine::Command::Save},
    {"verify", CommandLine::Command::Verify},
};

// The options each command takes.
bool Takes(CommandLine::Command action, const std::string& option) {
    using C = CommandLine::Command;
    // The options of every command that speaks to one drive.
    const bool drives = option == "--drive" || option == "--device" || option == "--all" || option == "--json" ||
                        option == "--timeout" || option == "--verbose";
    switch (action) {
    case C::List:
    case C::Image: return option == "--json";
    case C::Upgrade:
        return drives || option == "--yes" || option == "--backup" || option == "--dry-run" || option == "--no-verify" ||
               option == "--force" || option == "--allow-older";
    case C::Save: return drives || option == "--yes";
    case C::Verify: return drives;
    default: return false;
    }
}

bool HasValue(const std::string& option) {
    return option == "--drive" || option == "--device" || option == "--backup" || option == "--timeout";
}

// Digits only, from 1 to LIMIT.
bool ParseBounded(const std::string& text, unsigned limit, unsigned& number) {
    if (text.empty() || text.size() > 9) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > limit) return false;
    number = value;
    return true;
}

const char* NameOf(CommandLine::Command action) {
    for (const CommandName& command : Commands) {
        if (command.Action == action) return command.Name;
    }
    return "";
}

// --help or --version anywhere on the line wins over everything else on it.
bool AsksForHelpOrVersion(const std::vector<std::string>& arguments, CommandLine::Command& action) {
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            action = CommandLine::Command::Help;
            return true;
        }
        if (argument == "--version") {
            action = CommandLine::Command::Version;
            return true;
        }
    }
    return false;
}

// The value of the option at AT: what follows '=' (at EQUALS) or, without one, the next argument,
// which AT then moves to. An option without a value must have no '='.
bool TakeValue(const std::vector<std::string>& arguments, size_t& at, const std::string& option, size_t equals,
               std::string& value, std::string& reason) {
    if (!HasValue(option)) {
        if (equals == std::string::npos) return true;
        reason = "'" + option + "' takes no value";
        return false;
    }
    if (equals != std::string::npos) {
        value = arguments[at].substr(equals + 1);
    } else if (at + 1 < arguments.size()) {
        value = arguments[++at];
    }
    if (!value.empty()) return true;
    reason = "'" + option + "' needs a value";
    return false;
}

}  // namespace

bool CommandLine::Parse(const std::vector<std::string>& arguments, std::string& reason) {
    *this = CommandLine{};
    if (AsksForHelpOrVersion(arguments, Action)) return true;
    size_t at = 0;
    if (!ParseCommand(arguments, at, reason)) return false;
    for (; at < arguments.size(); ++at) {
        if (!ParseArgument(arguments, at, reason)) return false;
    }
    return CheckComplete(reason);
}

bool CommandLine::ParseCommand(const std::vector<std::string>& arguments, size_t& at, std::string& reason) {
    // A line that starts with an option (or is empty) lists the drives.
    if (at >= arguments.size() || arguments[at].compare(0, 1, "-") == 0) return true;
    for (const CommandName& command : Commands) {
        if (arguments[at] == command.Name) {
            Action = command.Action;
            ++at;
            return true;
        }
    }
    reason = "unknown command '" + arguments[at] + "'";
    return false;
}

bool CommandLine::ParseArgument(const std::vector<std::string>& arguments, size_t& at, std::string& reason) {
    const std::string& argument = arguments[at];
    if (argument == "-v" || argument == "-vv") {
        if (!Takes(Action, "--verbose")) {
            reason = "'-v' is no option of " + std::string(NameOf(Action));
            return false;
        }
        Verbose += static_cast<int>(argument.size()) - 1;
        return true;
    }
    if (argument.compare(0, 2, "--") != 0) {
        if (Action == Command::Save && File.empty() && !argument.empty()) {
            File = argument;
            return true;
        }
        reason = "unexpected argument '" + argument + "'";
        return false;
    }
    const size_t equals = argument.find('=');
    const std::string option = argument.substr(0, equals);
    if (!Takes(Action, option)) {
        reason = "'" + option + "' is no option of " + NameOf(Action);
        return false;
    }
    std::string value;
    if (!TakeValue(arguments, at, option, equals, value, reason)) return false;
    return SetOption(option, value, reason);
}

bool CommandLine::SetOption(const std::string& option, const std::string& value, std::string& reason) {
    if (option == "--drive") return SetDrives(value, reason);
    if (option == "--timeout") {
        if (ParseBounded(value, MaxTimeOutSeconds, TimeOutSeconds)) return true;
        reason = "'--timeout' needs a number of seconds from 1 to " + std::to_string(MaxTimeOutSeconds);
        return false;
    }
    if (option == "--device") {
        DevicePath = value;
    } else if (option == "--backup") {
        BackupFile = value;
    } else if (option == "--all") {
        AllDrives = true;
    } else if (option == "--yes") {
        Yes = true;
    } else if (option == "--dry-run") {
        DryRun = true;
    } else if (option == "--json") {
        Json = true;
    } else if (option == "--no-verify") {
        NoVerify = true;
    } else if (option == "--force") {
        Force = true;
    } else if (option == "--allow-older") {
        AllowOlder = true;
    } else if (option == "--verbose") {
        ++Verbose;
    }
    return true;
}

bool CommandLine::SetDrives(const std::string& value, std::string& reason) {
    DriveNumbers.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        unsigned number = 0;
        if (!ParseBounded(value.substr(start, comma - start), 999, number)) {
            reason = "'--drive' needs drive numbers as list shows them (1, 2, ... or 1,3,4)";
            return false;
        }
        for (unsigned named : DriveNumbers) {
            if (named != number) continue;
            reason = "'--drive' names drive " + std::to_string(number) + " twice";
            return false;
        }
        DriveNumbers.push_back(number);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    DriveNumber = DriveNumbers.front();
    return true;
}

bool CommandLine::CheckComplete(std::string& reason) const {
    // DevicePath is never empty once --device was given: the option needs a value.
    if (DriveNumber != 0 && !DevicePath.empty()) {
        reason = "'--drive' and '--device' name the drive twice: give one of them";
        return false;
    }
    if (AllDrives && NamesDrive()) {
        reason = "'--all' and '" + std::string(DriveNumber != 0 ? "--drive" : "--device") +
                 "' name the drives twice: give one of them";
        return false;
    }
    if (Action == Command::Save && File.empty()) {
        reason = "save needs the FILE to write the flash into";
        return false;
    }
    return true;
}
