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
    std::string problem;
    auto bad = [&](const std::pair<std::string, std::string>& word) { return Fail(number, ConfigText::BadValue(word)); };
    uint32_t value = 0;

    if (kind == "manager") {
        for (const auto& word : words) {
            if (word.first == "adapters") {
                if (!ConfigText::ParseNumber(word.second, 0xFF, value)) return bad(word);
                adapterCount_ = static_cast<int>(value);
            } else if (word.first == "status") {
                if (!ConfigText::ParseNumber(word.second, 0xFF, value)) return bad(word);
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
                if (!ConfigText::ParseNumber(word.second, 0xFE, value)) return bad(word);
                adapter.Id = static_cast<uint8_t>(value);
                haveId = true;
            } else if (word.first == "targets") {
                if (!ConfigText::ParseNumber(word.second, 0xFF, value)) return bad(word);
                adapter.MaxTargets = static_cast<uint8_t>(value);
            } else if (word.first == "status") {
                if (!ConfigText::ParseNumber(word.second, 0xFF, value) || value == 0) return bad(word);
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

    ConfigText::DriveReader reader(baseDirectory);
    uint8_t place[2] = {};
    bool havePlace[2] = {false, false};
    for (const auto& word : words) {
        const std::string& key = word.first;
        if (key == "adapter" || key == "target") {
            const int which = key == "adapter" ? 0 : 1;
            if (!ConfigText::ParseNumber(word.second, which == 0 ? 0xFE : 0xFF, value)) return bad(word);
            place[which] = static_cast<uint8_t>(value);
            havePlace[which] = true;
            continue;
        }
        switch (reader.Key(key, word.second, problem)) {
        case ConfigText::DriveReader::Result::Taken:
            break;
        case ConfigText::DriveReader::Result::Bad:
            return Fail(number, problem);
        case ConfigText::DriveReader::Result::Unknown:
            return Fail(number, "unknown key " + key);
        }
    }
    if (!havePlace[0] || !havePlace[1]) return Fail(number, "drive needs adapter= and target=");
    if (DriveAt(place[0], place[1]) >= 0) {
        return Fail(number, "two drives at adapter " + std::to_string(place[0]) + " target " +
                                std::to_string(place[1]));
    }
    Drive drive;
    static_cast<emulator::DriveSettings&>(drive) = reader.Finish();
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
