#include "emulator/iscsi/TargetConfig.h"

#include <stdio.h>

namespace emulator {

namespace {

// A number key of the target statement whose refusal names the range.
ConfigText::Key RangeKey(const char* name, uint32_t min, uint32_t max, uint32_t& into) {
    return {name, [name, min, max, &into](const std::string& text, std::string& problem) {
                uint32_t value = 0;
                if (ConfigText::ParseNumber(text, max, value) && value >= min) {
                    into = value;
                    return true;
                }
                problem = ConfigText::BadValue({name, text}) + " (" + std::to_string(min) + " to " +
                          std::to_string(max) + ")";
                return false;
            }};
}

}  // namespace

bool TargetConfig::ValidName(const std::string& name) {
    if (name.size() < 5 || name.size() > MaxNameLength) return false;
    const std::string prefix = name.substr(0, 4);
    if (prefix != "iqn." && prefix != "eui." && prefix != "naa.") return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
        if (!ok) return false;
    }
    return true;
}

bool TargetConfig::Fail(size_t line, const std::string& reason) {
    error_ = line == 0 ? reason : "line " + std::to_string(line) + ": " + reason;
    return false;
}

bool TargetConfig::Parse(const std::string& text) {
    Drives.clear();
    Limits = ServerLimits();
    haveTarget_ = false;
    error_.clear();
    size_t line = 0;
    std::string problem;
    const auto handle = [this](size_t number, const std::string& statement, const ConfigText::Words& words) {
        return Statement(number, statement, words);
    };
    if (!ConfigText::ForEachStatement(text, handle, line, problem)) {
        if (!problem.empty()) Fail(line, problem);
        Drives.clear();
        return false;
    }
    if (Drives.empty()) return Fail(0, "no drive configured");
    return true;
}

bool TargetConfig::Load(const std::string& path) {
    std::string text;
    std::string problem;
    if (!ConfigText::ReadFile(path, text, problem)) return Fail(0, problem);
    return Parse(text);
}

bool TargetConfig::Statement(size_t line, const std::string& statement, const ConfigText::Words& words) {
    if (statement == "target") return TargetStatement(line, words);
    if (statement == "drive") return DriveStatement(line, words);
    return Fail(line, "unknown statement " + statement);
}

bool TargetConfig::TargetStatement(size_t line, const ConfigText::Words& words) {
    if (haveTarget_) return Fail(line, "a second target statement");
    haveTarget_ = true;
    const ConfigText::Keys keys = {
        ConfigText::TextKey("listen", [this](const std::string& text) { return TakeListen(text); }),
        ConfigText::TextKey("log",
                            [this](const std::string& text) {
                                if (text.empty()) return false;
                                LogPath = text;
                                return true;
                            }),
        RangeKey("max-connections", 1, MostConnections, Limits.MaxConnections),
        RangeKey("login-timeout", 1, MostSeconds, Limits.LoginTimeoutSeconds),
        RangeKey("nop-interval", 0, MostSeconds, Limits.NopIntervalSeconds),
    };
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(line, problem);
    return true;
}

bool TargetConfig::TakeListen(const std::string& text) {
    const size_t colon = text.rfind(':');
    uint32_t port = 0;
    if (colon == std::string::npos || colon == 0 || !ConfigText::ParseNumber(text.substr(colon + 1), 65535, port)) {
        return false;
    }
    ListenHost = text.substr(0, colon);
    if (ListenHost.size() > 2 && ListenHost.front() == '[' && ListenHost.back() == ']') {
        ListenHost = ListenHost.substr(1, ListenHost.size() - 2);
    }
    ListenPort = static_cast<uint16_t>(port);
    return true;
}

bool TargetConfig::DriveStatement(size_t line, const ConfigText::Words& words) {
    // No base directory: relative paths stay relative to the working directory.
    ConfigText::DriveReader reader("");
    std::string iqn;
    ConfigText::Keys keys = {
        ConfigText::TextKey("iqn",
                            [&iqn](const std::string& text) {
                                if (!ValidName(text)) return false;
                                iqn = text;
                                return true;
                            }),
    };
    reader.AddKeys(keys);
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(line, problem);
    if (iqn.empty()) return Fail(line, "drive needs iqn=");
    for (const Drive& other : Drives) {
        if (other.Iqn == iqn) return Fail(line, "two drives named " + iqn);
    }
    Drive drive;
    static_cast<DriveSettings&>(drive) = reader.Finish();
    drive.Iqn = iqn;
    if (!drive.Config.HasSerial()) {
        char serial[24];
        snprintf(serial, sizeof serial, "EMU%013zu", Drives.size() + 1);
        drive.Config.SetSerial(serial);
    }
    Drives.push_back(drive);
    return true;
}

}  // namespace emulator
