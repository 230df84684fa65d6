#include "emulator/wnaspi32/AspiManagerConfig.h"

#include <stdio.h>

#include "transport/DriveCommandSet.h"

using emulator::EmulatedDrive;

namespace {

using Words = std::vector<std::pair<std::string, std::string>>;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits LINE into its first word and KEY=VALUE pairs; false on a word without '=' after the first
// or an unclosed quote.
bool SplitLine(const std::string& line, std::string& kind, Words& words, std::string& problem) {
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

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value) {
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
    static const struct {
        const char* Name;
        EmulatedDrive::Kind Kind;
    } kinds[] = {
        {"any", EmulatedDrive::Kind::Any},         {"inquiry", EmulatedDrive::Kind::Inquiry},
        {"identity", EmulatedDrive::Kind::Identity}, {"dump", EmulatedDrive::Kind::Dump},
        {"readback", EmulatedDrive::Kind::ReadBack}, {"write", EmulatedDrive::Kind::WriteChunk},
        {"commit", EmulatedDrive::Kind::Commit},
    };
    for (const auto& k : kinds) {
        if (text == k.Name) {
            kind = k.Kind;
            return true;
        }
    }
    return false;
}

bool ParseOffset(const std::string& text, uint32_t& offset) {
    if (text.empty() || text == "*") {
        offset = EmulatedDrive::kAnyOffset;
        return true;
    }
    return ParseNumber(text, AspiManagerConfig::MaxFlashSize - 1, offset);
}

bool ParseTimes(const std::string& text, uint32_t& times) {
    if (text == "forever") {
        times = EmulatedDrive::kForever;
        return true;
    }
    return ParseNumber(text, 0xFFFFFFFEu, times) && times != 0;
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

void AspiManagerConfig::Clear() {
    SupportStatus = 0x01;
    Adapters.clear();
    Drives.clear();
    adapterCount_ = -1;
    error_.clear();
}

bool AspiManagerConfig::Fail(size_t line, const std::string& reason) {
    // Line 0: the file as a whole.
    const std::string message = line == 0 ? reason : "line " + std::to_string(line) + ": " + reason;
    Clear();
    error_ = message;
    return false;
}

bool AspiManagerConfig::Parse(const std::string& text, const std::string& baseDirectory) {
    Clear();
    size_t number = 1;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (!ParseLine(text.substr(start, end - start), number, baseDirectory)) return false;
        start = end + 1;
        ++number;
    }
    return true;
}

bool AspiManagerConfig::ParseLine(const std::string& line, size_t number, const std::string& baseDirectory) {
    std::string kind;
    Words words;
    std::string problem;
    if (!SplitLine(line, kind, words, problem)) return Fail(number, problem);
    if (kind.empty()) return true;

    auto bad = [&](const std::pair<std::string, std::string>& word) {
        return Fail(number, "bad value for " + word.first + ": '" + word.second + "'");
    };
    uint32_t value = 0;

    if (kind == "manager") {
        for (const auto& word : words) {
            if (word.first == "adapters") {
                if (!ParseNumber(word.second, 0xFF, value)) return bad(word);
                adapterCount_ = static_cast<int>(value);
            } else if (word.first == "status") {
                if (!ParseNumber(word.second, 0xFF, value)) return bad(word);
                SupportStatus = static_cast<uint8_t>(value);
            } else {
                return Fail(number, "unknown key " + word.first);
            }
        }
        return true;
    }

    if (kind == "adapter") {
        Adapter adapter;
        bool haveId = false;
        for (const auto& word : words) {
            if (word.first == "id") {
                if (!ParseNumber(word.second, 0xFE, value)) return bad(word);
                adapter.Id = static_cast<uint8_t>(value);
                haveId = true;
            } else if (word.first == "targets") {
                if (!ParseNumber(word.second, 0xFF, value)) return bad(word);
                adapter.MaxTargets = static_cast<uint8_t>(value);
            } else if (word.first == "status") {
                if (!ParseNumber(word.second, 0xFF, value) || value == 0) return bad(word);
                adapter.Status = static_cast<uint8_t>(value);
            } else {
                return Fail(number, "unknown key " + word.first);
            }
        }
        if (!haveId) return Fail(number, "adapter needs id=");
        for (const Adapter& other : Adapters) {
            if (other.Id == adapter.Id) return Fail(number, "adapter " + std::to_string(adapter.Id) + " twice");
        }
        Adapters.push_back(adapter);
        return true;
    }

    if (kind != "drive") return Fail(number, "unknown statement " + kind);

    Drive drive;
    bool haveAdapter = false;
    bool haveTarget = false;
    bool haveFlashSize = false;
    for (const auto& word : words) {
        const std::string& key = word.first;
        const std::string& text = word.second;
        if (key == "adapter" || key == "target") {
            if (!ParseNumber(text, key == "adapter" ? 0xFE : 0xFF, value)) return bad(word);
            (key == "adapter" ? drive.Adapter : drive.Target) = static_cast<uint8_t>(value);
            (key == "adapter" ? haveAdapter : haveTarget) = true;
        } else if (key == "vendor" || key == "product" || key == "revision") {
            const size_t limit = key == "vendor" ? sizeof drive.Config.vendor
                                 : key == "product" ? sizeof drive.Config.product : sizeof drive.Config.revision;
            if (text.size() > limit) return bad(word);
            if (key == "vendor") drive.Config.SetVendor(text.c_str());
            if (key == "product") drive.Config.SetProduct(text.c_str());
            if (key == "revision") drive.Config.SetRevision(text.c_str());
        } else if (key == "type") {
            if (!ParseNumber(text, 0xFF, value)) return bad(word);
            drive.Config.deviceType = static_cast<uint8_t>(value);
        } else if (key == "maker" || key == "controller" || key == "major" || key == "minor" || key == "sizekib") {
            if (!ParseNumber(text, 0xFFFF, value)) return bad(word);
            const uint16_t word16 = static_cast<uint16_t>(value);
            if (key == "maker") drive.Config.makerWord = word16;
            if (key == "controller") drive.Config.controllerId = word16;
            if (key == "major") drive.Config.versionMajor = word16;
            if (key == "minor") drive.Config.versionMinor = word16;
            if (key == "sizekib") drive.Config.sizeWordKiB = word16;
        } else if (key == "flashsize") {
            if (!ParseNumber(text, MaxFlashSize, value) || value == 0) return bad(word);
            drive.Config.flashSize = value;
            haveFlashSize = true;
        } else if (key == "versionat") {
            if (!ParseNumber(text, MaxFlashSize - 4, value)) return bad(word);
            drive.Config.versionOffset = value;
        } else if (key == "flash" || key == "log") {
            if (text.empty()) return bad(word);
            (key == "flash" ? drive.FlashPath : drive.LogPath) = Resolve(baseDirectory, text);
        } else if (key == "latency") {
            if (!ParseNumber(text, 60000, value)) return bad(word);
            drive.LatencyMilliseconds = value;
        } else if (key == "fail" || key == "corrupt") {
            EmulatedDrive::FaultRule rule;
            if (!ParseFault(text, key == "corrupt", rule)) return bad(word);
            if (drive.Faults.size() >= MaxFaults) return Fail(number, "more than " + std::to_string(MaxFaults) + " faults");
            drive.Faults.push_back(rule);
        } else if (key == "failnth") {
            if (!ParseNumber(text, 0xFFFFFFFFu, value)) return bad(word);
            drive.FailCommandNumber = value;
        } else if (key == "identitycheck") {
            if (!ParseFlag(text, drive.IdentityCheckWithData)) return bad(word);
        } else if (key == "gone") {
            if (!ParseFlag(text, drive.Gone)) return bad(word);
        } else {
            return Fail(number, "unknown key " + key);
        }
    }
    if (!haveAdapter || !haveTarget) return Fail(number, "drive needs adapter= and target=");
    if (DriveAt(drive.Adapter, drive.Target) >= 0) {
        return Fail(number, "two drives at adapter " + std::to_string(drive.Adapter) + " target " +
                                std::to_string(drive.Target));
    }
    if (!haveFlashSize) {
        const uint32_t usual = DriveCommandSet::DefaultFlashSize(drive.Config.controllerId);
        drive.Config.flashSize = drive.Config.sizeWordKiB != 0 ? drive.Config.sizeWordKiB * 1024u
                                 : usual != 0                  ? usual
                                                               : DefaultFlashSize;
    }
    Drives.push_back(drive);
    return true;
}

bool AspiManagerConfig::Load(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return Fail(0, "cannot open " + path);
    std::string text(MaxFileSize + 1, '\0');
    const size_t got = fread(&text[0], 1, text.size(), f);
    const bool readError = ferror(f) != 0;
    fclose(f);
    if (readError) return Fail(0, "cannot read " + path);
    if (got > MaxFileSize) return Fail(0, path + " is larger than " + std::to_string(MaxFileSize) + " bytes");
    text.resize(got);
    return Parse(text, DirectoryOf(path));
}

void AspiManagerConfig::SetDefault() {
    Clear();
    Drive drive;
    Drives.push_back(drive);
}

uint8_t AspiManagerConfig::AdapterCount() const {
    if (adapterCount_ >= 0) return static_cast<uint8_t>(adapterCount_);
    int highest = -1;
    for (const Adapter& adapter : Adapters) {
        if (adapter.Id > highest) highest = adapter.Id;
    }
    for (const Drive& drive : Drives) {
        if (drive.Adapter > highest) highest = drive.Adapter;
    }
    return static_cast<uint8_t>(highest + 1);
}

AspiManagerConfig::Adapter AspiManagerConfig::AdapterAnswer(uint8_t id) const {
    for (const Adapter& adapter : Adapters) {
        if (adapter.Id == id) return adapter;
    }
    Adapter answer;
    answer.Id = id;
    return answer;
}

int AspiManagerConfig::DriveAt(uint8_t adapter, uint8_t target) const {
    for (size_t i = 0; i < Drives.size(); ++i) {
        if (Drives[i].Adapter == adapter && Drives[i].Target == target) return static_cast<int>(i);
    }
    return -1;
}

std::string AspiManagerConfig::DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string AspiManagerConfig::Resolve(const std::string& base, const std::string& path) {
    const bool absolute = (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
                          (path.size() >= 2 && path[1] == ':');
    if (absolute || base.empty()) return path;
    return base + "/" + path;
}
