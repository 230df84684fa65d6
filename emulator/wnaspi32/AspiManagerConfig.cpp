#include "emulator/wnaspi32/AspiManagerConfig.h"

using emulator::ConfigText;

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
    size_t line = 0;
    std::string problem;
    const auto statement = [&](size_t number, const std::string& kind, const ConfigText::Words& words) {
        return ParseStatement(number, kind, words, baseDirectory);
    };
    if (!ConfigText::ForEachStatement(text, statement, line, problem)) return problem.empty() ? false : Fail(line, problem);
    return true;
}

bool AspiManagerConfig::ParseStatement(size_t number, const std::string& kind, const ConfigText::Words& words,
                                       const std::string& baseDirectory) {
    if (kind == "manager") return ParseManager(number, words);
    if (kind == "adapter") return ParseAdapter(number, words);
    if (kind == "drive") return ParseDrive(number, words, baseDirectory);
    return Fail(number, "unknown statement " + kind);
}

bool AspiManagerConfig::ParseManager(size_t number, const ConfigText::Words& words) {
    const ConfigText::Keys keys = {
        ConfigText::NumberKey("adapters", 0, 0xFF, [this](uint32_t v) { adapterCount_ = static_cast<int>(v); }),
        ConfigText::NumberKey("status", 0, 0xFF, [this](uint32_t v) { SupportStatus = static_cast<uint8_t>(v); }),
    };
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(number, problem);
    return true;
}

bool AspiManagerConfig::ParseAdapter(size_t number, const ConfigText::Words& words) {
    Adapter adapter;
    bool haveId = false;
    const ConfigText::Keys keys = {
        ConfigText::NumberKey("id", 0, 0xFE,
                              [&](uint32_t v) {
                                  adapter.Id = static_cast<uint8_t>(v);
                                  haveId = true;
                              }),
        ConfigText::NumberKey("targets", 0, 0xFF, [&](uint32_t v) { adapter.MaxTargets = static_cast<uint8_t>(v); }),
        ConfigText::NumberKey("status", 1, 0xFF, [&](uint32_t v) { adapter.Status = static_cast<uint8_t>(v); }),
    };
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(number, problem);
    if (!haveId) return Fail(number, "adapter needs id=");
    for (const Adapter& other : Adapters) {
        if (other.Id == adapter.Id) return Fail(number, "adapter " + std::to_string(adapter.Id) + " twice");
    }
    Adapters.push_back(adapter);
    return true;
}

bool AspiManagerConfig::ParseDrive(size_t number, const ConfigText::Words& words, const std::string& baseDirectory) {
    ConfigText::DriveReader reader(baseDirectory);
    uint8_t place[2] = {};
    bool havePlace[2] = {false, false};
    ConfigText::Keys keys = {
        ConfigText::NumberKey("adapter", 0, 0xFE,
                              [&](uint32_t v) {
                                  place[0] = static_cast<uint8_t>(v);
                                  havePlace[0] = true;
                              }),
        ConfigText::NumberKey("target", 0, 0xFF,
                              [&](uint32_t v) {
                                  place[1] = static_cast<uint8_t>(v);
                                  havePlace[1] = true;
                              }),
    };
    reader.AddKeys(keys);
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(number, problem);
    if (!havePlace[0] || !havePlace[1]) return Fail(number, "drive needs adapter= and target=");
    if (DriveAt(place[0], place[1]) >= 0) {
        return Fail(number, "two drives at adapter " + std::to_string(place[0]) + " target " +
                                std::to_string(place[1]));
    }
    Drive drive;
    static_cast<emulator::DriveSettings&>(drive) = reader.Finish();
    // A manager in the caller's process has no link to hold a command on or to drop.
    if (drive.LinkKey() != nullptr) return Fail(number, std::string(drive.LinkKey()) + "= needs a link: iscsi-target only");
    drive.Adapter = place[0];
    drive.Target = place[1];
    Drives.push_back(drive);
    return true;
}

bool AspiManagerConfig::Load(const std::string& path) {
    std::string text;
    std::string problem;
    if (!ConfigText::ReadFile(path, text, problem)) return Fail(0, problem);
    return Parse(text, ConfigText::DirectoryOf(path));
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
