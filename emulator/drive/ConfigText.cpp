#include "emulator/drive/ConfigText.h"

#include "emulator/drive/MediumFile.h"

#include <stdio.h>

#include <algorithm>

namespace emulator {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits LINE into its first word and KEY=VALUE pairs; false on a word without '=' after the first
// or an unclosed quote.
bool SplitWords(const std::string& line, std::string& kind, ConfigText::Words& words, std::string& problem) {
    std::vector<std::string> raw;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        bool quoted = false;
        while (i < line.size() && (quoted || (!IsBlank(line[i]) && line[i] != '#'))) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else {
                word += line[i];
            }
            ++i;
        }
        if (quoted) {
            problem = "unclosed quote";
            return false;
        }
        raw.push_back(word);
    }
    kind.clear();
    words.clear();
    if (raw.empty()) return true;
    kind = raw[0];
    for (size_t w = 1; w < raw.size(); ++w) {
        const size_t eq = raw[w].find('=');
        if (eq == std::string::npos || eq == 0) {
            problem = "expected KEY=VALUE, found '" + raw[w] + "'";
            return false;
        }
        words.emplace_back(raw[w].substr(0, eq), raw[w].substr(eq + 1));
    }
    return true;
}

bool Number(const std::string& text, uint32_t max, uint32_t& value) {
    size_t i = 0;
    uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i >= text.size()) return false;
    uint64_t result = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        result = result * base + digit;
        if (result > max) return false;
    }
    value = static_cast<uint32_t>(result);
    return true;
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) return parts;
        start = colon + 1;
    }
}

bool ParseKind(const std::string& text, EmulatedDrive::Kind& kind) {
    for (uint8_t k = 0; k <= static_cast<uint8_t>(EmulatedDrive::Kind::Commit); ++k) {
        const char* name = EmulatedDrive::KindName(static_cast<EmulatedDrive::Kind>(k));
        if (name != nullptr && text == name) {
            kind = static_cast<EmulatedDrive::Kind>(k);
            return true;
        }
    }
    return false;
}

// KIND[:NTH], and with SECONDS KIND[:NTH[:SECONDS]]; false with WHY.
bool ParsePick(const std::string& text, EmulatedDrive::CommandPick& pick, uint32_t* seconds, std::string& why) {
    const std::vector<std::string> parts = SplitColons(text);
    pick = EmulatedDrive::CommandPick();
    pick.nth = 1;
    if (parts.size() > (seconds != nullptr ? 3u : 2u)) {
        why = seconds != nullptr ? "expected KIND[:NTH[:SECONDS]]" : "expected KIND[:NTH]";
        return false;
    }
    if (!ParseKind(parts[0], pick.kind)) {
        why = "KIND is one of any, inquiry, identity, dump, readback, write, commit";
        return false;
    }
    if (parts.size() > 1 && (!Number(parts[1], 0xFFFFFFFFu, pick.nth) || pick.nth == 0)) {
        why = "NTH counts from 1";
        return false;
    }
    if (seconds != nullptr) {
        *seconds = 0;
        if (parts.size() > 2 && !Number(parts[2], ConfigText::MaxDropSeconds, *seconds)) {
            why = "SECONDS is at most " + std::to_string(ConfigText::MaxDropSeconds);
            return false;
        }
    }
    return true;
}

bool ParseOffset(const std::string& text, uint32_t& offset) {
    if (text.empty() || text == "*") {
        offset = EmulatedDrive::AnyOffset;
        return true;
    }
    return Number(text, ConfigText::MaxFlashSize - 1, offset);
}

bool ParseTimes(const std::string& text, uint32_t& times) {
    if (text == "forever") {
        times = EmulatedDrive::Forever;
        return true;
    }
    return Number(text, 0xFFFFFFFEu, times) && times != 0;
}

// fail=KIND[:OFFSET[:TIMES]] and corrupt=OFFSET[:TIMES].
bool ParseFault(const std::string& text, bool corrupt, EmulatedDrive::FaultRule& rule) {
    const std::vector<std::string> parts = SplitColons(text);
    rule = EmulatedDrive::FaultRule();
    size_t at = 0;
    if (corrupt) {
        if (parts.size() > 2) return false;
        rule.kind = EmulatedDrive::Kind::ReadBack;
        rule.action = EmulatedDrive::FaultAction::Corrupt;
    } else {
        if (parts.size() > 3 || !ParseKind(parts[0], rule.kind)) return false;
        at = 1;
    }
    if (parts.size() > at && !ParseOffset(parts[at], rule.offset)) return false;
    if (parts.size() > at + 1 && !ParseTimes(parts[at + 1], rule.times)) return false;
    return true;
}

bool ParseFlag(const std::string& text, bool& flag) {
    if (text == "1") {
        flag = true;
    } else if (text == "0") {
        flag = false;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ConfigText::ParseNumber(const std::string& text, uint32_t max, uint32_t& value) {
    return Number(text, max, value);
}

bool ConfigText::ForEachStatement(const std::string& text, const StatementHandler& handle, size_t& line,
                                  std::string& problem) {
    size_t number = 1;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string statement;
        Words words;
        problem.clear();
        if (!SplitWords(text.substr(start, end - start), statement, words, problem)) {
            line = number;
            return false;
        }
        if (!statement.empty() && !handle(number, statement, words)) {
            line = 0;
            problem.clear();
            return false;
        }
        start = end + 1;
        ++number;
    }
    return true;
}

std::string ConfigText::BadValue(const std::pair<std::string, std::string>& word) {
    return "bad value for " + word.first + ": '" + word.second + "'";
}

bool ConfigText::ReadFile(const std::string& path, std::string& text, std::string& problem) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        problem = "cannot open " + path;
        return false;
    }
    text.assign(MaxFileSize + 1, '\0');
    const size_t got = fread(&text[0], 1, text.size(), f);
    const bool readError = ferror(f) != 0;
    fclose(f);
    if (readError) {
        problem = "cannot read " + path;
        return false;
    }
    if (got > MaxFileSize) {
        problem = path + " is larger than " + std::to_string(MaxFileSize) + " bytes";
        return false;
    }
    text.resize(got);
    return true;
}

ConfigText::Key ConfigText::TextKey(const char* name, std::function<bool(const std::string& value)> take) {
    return Key{name, [take](const std::string& value, std::string&) { return take(value); }};
}

ConfigText::Key ConfigText::NumberKey(const char* name, uint32_t min, uint32_t max,
                                      std::function<void(uint32_t value)> take) {
    return TextKey(name, [min, max, take](const std::string& text) {
        uint32_t value = 0;
        if (!Number(text, max, value) || value < min) return false;
        take(value);
        return true;
    });
}

bool ConfigText::ReadKeys(const Words& words, const Keys& keys, std::string& problem) {
    for (const auto& word : words) {
        const auto key = std::find_if(keys.begin(), keys.end(), [&word](const Key& k) { return k.Name == word.first; });
        if (key == keys.end()) {
            problem = "unknown key " + word.first;
            return false;
        }
        problem.clear();
        if (!key->Take(word.second, problem)) {
            if (problem.empty()) problem = BadValue(word);
            return false;
        }
    }
    return true;
}

void ConfigText::DriveReader::AddKeys(Keys& keys) {
    DriveConfig& config = drive_.Config;
    const auto padded = [](const char* name, char* field, size_t size, size_t least) {
        return TextKey(name, [field, size, least](const std::string& text) {
            if (text.size() < least || text.size() > size) return false;
            DriveConfig::SetPadded(field, size, text.c_str());
            return true;
        });
    };
    const auto word = [&config](const char* name, uint16_t DriveConfig::*field) {
        return NumberKey(name, 0, 0xFFFF, [&config, field](uint32_t v) { config.*field = static_cast<uint16_t>(v); });
    };
    const auto path = [this](const char* name, std::string DriveSettings::*field) {
        return TextKey(name, [this, field](const std::string& text) {
            if (text.empty()) return false;
            drive_.*field = Resolve(base_, text);
            return true;
        });
    };
    const auto flag = [this](const char* name, bool DriveSettings::*field) {
        return TextKey(name, [this, field](const std::string& text) { return ParseFlag(text, drive_.*field); });
    };
    keys.push_back(padded("vendor", config.vendor, sizeof config.vendor, 0));
    keys.push_back(padded("product", config.product, sizeof config.product, 0));
    keys.push_back(padded("revision", config.revision, sizeof config.revision, 0));
    keys.push_back(padded("serial", config.serial, sizeof config.serial, 1));
    keys.push_back(NumberKey("type", 0, 0xFF, [&config](uint32_t v) { config.deviceType = static_cast<uint8_t>(v); }));
    keys.push_back(word("maker", &DriveConfig::makerWord));
    keys.push_back(word("controller", &DriveConfig::controllerId));
    keys.push_back(word("major", &DriveConfig::versionMajor));
    keys.push_back(word("minor", &DriveConfig::versionMinor));
    keys.push_back(word("sizekib", &DriveConfig::sizeWordKiB));
    keys.push_back(NumberKey("flashsize", 1, MaxFlashSize, [this](uint32_t v) {
        drive_.Config.flashSize = v;
        haveFlashSize_ = true;
    }));
    keys.push_back(NumberKey("versionat", 0, MaxFlashSize - 4, [&config](uint32_t v) { config.versionOffset = v; }));
    keys.push_back(path("flash", &DriveSettings::FlashPath));
    keys.push_back({"medium", [this](const std::string& text, std::string& problem) {
                        return TakeMedium(text, problem);
                    }});
    keys.push_back(path("log", &DriveSettings::LogPath));
    keys.push_back(NumberKey("latency", 0, 60000, [this](uint32_t v) { drive_.LatencyMilliseconds = v; }));
    keys.push_back(
        {"fail", [this](const std::string& v, std::string& problem) { return TakeFault(v, false, problem); }});
    keys.push_back(
        {"corrupt", [this](const std::string& v, std::string& problem) { return TakeFault(v, true, problem); }});
    keys.push_back(NumberKey("failnth", 0, 0xFFFFFFFFu, [this](uint32_t v) { drive_.FailCommandNumber = v; }));
    keys.push_back(flag("identitycheck", &DriveSettings::IdentityCheckWithData));
    keys.push_back(flag("gone", &DriveSettings::Gone));
    // A value that names one command: KIND[:NTH], with SECONDS when there is room for them.
    const auto pick = [this](const char* name, EmulatedDrive::CommandPick DriveSettings::*field, uint32_t* seconds) {
        return [this, name, field, seconds](const std::string& value, std::string& problem) {
            std::string why;
            if (ParsePick(value, drive_.*field, seconds, why)) return true;
            problem = BadValue({name, value}) + " (" + why + ")";
            return false;
        };
    };
    const auto attention = pick("attention", &DriveSettings::Attention, nullptr);
    keys.push_back({"attention", [this, attention](const std::string& value, std::string& problem) {
                        if (value != "aftercommit") return attention(value, problem);
                        drive_.AttentionAfterCommit = true;
                        return true;
                    }});
    keys.push_back(
        NumberKey("notready", 0, MaxNotReadyCommands, [this](uint32_t v) { drive_.NotReadyAfterCommit = v; }));
    keys.push_back({"hold", pick("hold", &DriveSettings::Hold, &drive_.HoldSeconds)});
    keys.push_back({"drop", pick("drop", &DriveSettings::Drop, &drive_.DropSeconds)});
}

bool ConfigText::DriveReader::TakeFault(const std::string& value, bool corrupt, std::string& problem) {
    EmulatedDrive::FaultRule rule;
    if (!ParseFault(value, corrupt, rule)) return false;
    if (drive_.Faults.size() >= EmulatedDrive::MaxFaultRules) {
        problem = "more than " + std::to_string(EmulatedDrive::MaxFaultRules) + " faults";
        return false;
    }
    drive_.Faults.push_back(rule);
    return true;
}

bool ConfigText::DriveReader::TakeMedium(const std::string& value, std::string& problem) {
    if (value.empty()) return false;
    // Looked at now, so that a wrong image is refused with its line, before any drive starts.
    const std::string path = Resolve(base_, value);
    MediumFile image;
    std::string why;
    if (!image.Open(path, why)) {
        problem = BadValue({"medium", value}) + " (" + why + ")";
        return false;
    }
    drive_.MediumPath = path;
    return true;
}

DriveSettings ConfigText::DriveReader::Finish() {
    if (!haveFlashSize_) {
        DriveConfig& config = drive_.Config;
        const uint32_t usual = DriveConfig::UsualFlashSize(config.controllerId);
        config.flashSize = config.sizeWordKiB != 0 ? config.sizeWordKiB * 1024u
                           : usual != 0            ? usual
                                                   : DriveConfig::DefaultFlashSize;
    }
    return drive_;
}

std::string ConfigText::DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ConfigText::Resolve(const std::string& base, const std::string& path) {
    const bool absolute = (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
                          (path.size() >= 2 && path[1] == ':');
    if (absolute || base.empty()) return path;
    return base + "/" + path;
}

}  // namespace emulator
