#include "emulator/scsiport/ScsiPortConfig.h"

#include <algorithm>
#include <cstring>

using emulator::ConfigText;
using emulator::ScsiPortSettings;

namespace {

bool CopyWide(const std::u16string& text, uint16_t* out, size_t room) {
    if (text.size() >= room) return false;
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<uint16_t>(text[i]);
    out[text.size()] = 0;
    return true;
}

bool CopyNarrow(const std::string& text, char* out, size_t room) {
    if (text.size() >= room) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

bool ScsiPortConfig::Fail(size_t line, const std::string& reason) {
    Ports.clear();
    Drives.clear();
    EventLogPath.clear();
    error_ = line == 0 ? reason : "line " + std::to_string(line) + ": " + reason;
    return false;
}

ScsiPortConfig::Port* ScsiPortConfig::FindPort(uint8_t number) {
    for (Port& port : Ports) {
        if (port.Number == number) return &port;
    }
    return nullptr;
}

bool ScsiPortConfig::Load(const std::string& path) {
    std::string text;
    std::string problem;
    if (!ConfigText::ReadFile(path, text, problem)) return Fail(0, problem);
    return Parse(text, ConfigText::DirectoryOf(path));
}

bool ScsiPortConfig::Parse(const std::string& text, const std::string& baseDirectory) {
    Ports.clear();
    Drives.clear();
    EventLogPath.clear();
    error_.clear();
    size_t line = 0;
    std::string problem;
    const auto statement = [&](size_t number, const std::string& kind, const ConfigText::Words& words) {
        return ParseStatement(number, kind, words, baseDirectory);
    };
    if (!ConfigText::ForEachStatement(text, statement, line, problem)) return problem.empty() ? false : Fail(line, problem);
    return Finish();
}

bool ScsiPortConfig::ParseStatement(size_t number, const std::string& statement, const ConfigText::Words& words,
                                    const std::string& baseDirectory) {
    if (statement == "driver") return ParseDriver(number, words, baseDirectory);
    if (statement == "port") return ParsePort(number, words);
    if (statement == "drive") return ParseDrive(number, words, baseDirectory);
    return Fail(number, "unknown statement " + statement);
}

bool ScsiPortConfig::ParseDriver(size_t number, const ConfigText::Words& words, const std::string& baseDirectory) {
    const ConfigText::Keys keys = {
        ConfigText::TextKey("log",
                            [&](const std::string& text) {
                                if (text.empty()) return false;
                                EventLogPath = ConfigText::Resolve(baseDirectory, text);
                                return true;
                            }),
    };
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(number, problem);
    return true;
}

bool ScsiPortConfig::ParsePort(size_t number, const ConfigText::Words& words) {
    Port port;
    bool haveNumber = false;
    const ConfigText::Keys keys = {
        ConfigText::NumberKey("number", 0, 254,
                              [&](uint32_t v) {
                                  port.Number = static_cast<uint8_t>(v);
                                  haveNumber = true;
                              }),
        ConfigText::TextKey("device",
                            [&](const std::string& text) {
                                if (text.size() < 2 || text[0] != '\\') return false;
                                port.DeviceName = text;
                                return true;
                            }),
        ConfigText::NumberKey("buses", 0, 255, [&](uint32_t v) { port.Buses = static_cast<int>(v); }),
    };
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(number, problem);
    if (!haveNumber) return Fail(number, "port needs number=");
    if (FindPort(port.Number) != nullptr) return Fail(number, "port " + std::to_string(port.Number) + " twice");
    Ports.push_back(port);
    return true;
}

bool ScsiPortConfig::ParseDrive(size_t number, const ConfigText::Words& words, const std::string& baseDirectory) {
    ConfigText::DriveReader reader(baseDirectory);
    Drive place;
    bool havePlace[3] = {false, false, false};
    ConfigText::Keys keys = PlaceKeys(place, havePlace);
    reader.AddKeys(keys);
    std::string problem;
    if (!ConfigText::ReadKeys(words, keys, problem)) return Fail(number, problem);
    if (!havePlace[0] || !havePlace[1] || !havePlace[2]) return Fail(number, "drive needs port=, bus= and target=");
    for (const Drive& other : Drives) {
        if (other.Port == place.Port && other.Bus == place.Bus && other.Target == place.Target) {
            return Fail(number, "two drives at port " + std::to_string(place.Port) + " bus " +
                                    std::to_string(place.Bus) + " target " + std::to_string(place.Target));
        }
    }
    Drive drive = place;
    static_cast<emulator::DriveSettings&>(drive) = reader.Finish();
    // The driver's settings carry the faults it serves; these it does not. Nor a disc: the kernel
    // driver would have to read the image file as it serves each command, and no program it serves
    // ever reads one.
    const char* unserved = drive.LinkKey() != nullptr       ? drive.LinkKey()
                           : drive.ConditionKey() != nullptr ? drive.ConditionKey()
                           : !drive.MediumPath.empty()       ? "medium"
                                                             : nullptr;
    if (unserved != nullptr) return Fail(number, std::string(unserved) + "= is not served by the port driver");
    Drives.push_back(drive);
    return true;
}

ConfigText::Keys ScsiPortConfig::PlaceKeys(Drive& place, bool (&havePlace)[3]) {
    const auto address = [&place, &havePlace](const char* name, int which, uint8_t Drive::*field) {
        return ConfigText::NumberKey(name, 0, 254, [&place, &havePlace, which, field](uint32_t v) {
            place.*field = static_cast<uint8_t>(v);
            havePlace[which] = true;
        });
    };
    return {
        address("port", 0, &Drive::Port),
        address("bus", 1, &Drive::Bus),
        address("target", 2, &Drive::Target),
        ConfigText::TextKey("letter",
                            [&place](const std::string& text) {
                                if (text == "-") {
                                    place.Letter = '-';
                                } else if (text.size() == 1 && IsLetter(text[0])) {
                                    place.Letter = static_cast<char>(text[0] & ~0x20);
                                } else {
                                    return false;
                                }
                                return true;
                            }),
        ConfigText::NumberKey("cdrom", 0, 999, [&place](uint32_t v) { place.CdRomNumber = static_cast<int>(v); }),
        ConfigText::TextKey("devicename",
                            [&place](const std::string& text) {
                                if (text.empty()) return false;
                                place.HasMapDeviceName = text != "-";
                                place.MapDeviceName = text == "-" ? std::string() : text;
                                return true;
                            }),
        ConfigText::TextKey("maptype",
                            [&place](const std::string& text) {
                                if (text.empty()) return false;
                                place.MapType = text;
                                return true;
                            }),
    };
}

bool ScsiPortConfig::Finish() {
    for (size_t i = 0; i < Drives.size(); ++i) {
        Drive& drive = Drives[i];
        if (FindPort(drive.Port) == nullptr) {
            Port port;
            port.Number = drive.Port;
            Ports.push_back(port);
        }
        if (drive.Letter == 0) drive.Letter = static_cast<char>('E' + i);
        if (drive.Letter == '-') drive.Letter = 0;
        if (drive.CdRomNumber < 0) drive.CdRomNumber = static_cast<int>(i);
        if (drive.HasMapDeviceName && drive.MapDeviceName.empty()) {
            drive.MapDeviceName = "CdRom" + std::to_string(drive.CdRomNumber);
        }
        if (drive.Letter > 'Z') return Fail(0, "no drive letter left for drive " + std::to_string(i + 1));
        for (size_t j = 0; j < i; ++j) {
            if (Drives[j].CdRomNumber == drive.CdRomNumber) return Fail(0, "two drives are CdRom" + std::to_string(drive.CdRomNumber));
            if (drive.Letter != 0 && Drives[j].Letter == drive.Letter) {
                return Fail(0, std::string("two drives have the letter ") + drive.Letter);
            }
        }
    }
    std::sort(Ports.begin(), Ports.end(), [](const Port& a, const Port& b) { return a.Number < b.Number; });
    for (Port& port : Ports) {
        if (port.DeviceName.empty()) port.DeviceName = "\\Device\\Ide\\IdePort" + std::to_string(port.Number);
        if (port.Buses < 0) {
            int highest = -1;
            for (const Drive& drive : Drives) {
                if (drive.Port == port.Number) highest = std::max<int>(highest, drive.Bus);
            }
            port.Buses = std::max(highest + 1, 1);
        }
    }
    for (size_t i = 0; i < Ports.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (Ports[i].DeviceName == Ports[j].DeviceName) return Fail(0, "two ports are " + Ports[i].DeviceName);
        }
    }
    return true;
}

bool ScsiPortConfig::ToSettings(ScsiPortSettings& settings,
                                const std::function<bool(const std::string&, std::u16string&)>& ntPath) {
    settings = ScsiPortSettings{};
    settings.Magic = ScsiPortSettings::ExpectedMagic;
    settings.Version = ScsiPortSettings::LayoutVersion;
    settings.Size = sizeof settings;
    if (Ports.size() > ScsiPortSettings::MaxPorts) {
        return Fail(0, "more than " + std::to_string(ScsiPortSettings::MaxPorts) + " ports");
    }
    if (Drives.size() > ScsiPortSettings::MaxDrives) {
        return Fail(0, "more than " + std::to_string(ScsiPortSettings::MaxDrives) + " drives");
    }
    auto path = [&](const std::string& file, uint16_t* out) {
        std::u16string converted;
        if (file.empty()) return true;
        if (!ntPath(file, converted)) return Fail(0, "cannot name " + file + " for the driver");
        if (!CopyWide(converted, out, ScsiPortSettings::PathRoom)) return Fail(0, "path too long: " + file);
        return true;
    };
    if (!path(EventLogPath, settings.EventLogPath)) return false;
    settings.PortCount = static_cast<uint32_t>(Ports.size());
    for (size_t i = 0; i < Ports.size(); ++i) {
        ScsiPortSettings::Port& out = settings.Ports[i];
        out.Number = Ports[i].Number;
        out.Buses = static_cast<uint8_t>(Ports[i].Buses);
        if (!CopyWide(Widen(Ports[i].DeviceName), out.DeviceName, ScsiPortSettings::NameRoom)) {
            return Fail(0, "device name too long: " + Ports[i].DeviceName);
        }
    }
    settings.DriveCount = static_cast<uint32_t>(Drives.size());
    for (size_t i = 0; i < Drives.size(); ++i) {
        const Drive& drive = Drives[i];
        ScsiPortSettings::Drive& out = settings.Drives[i];
        out.Port = drive.Port;
        out.Bus = drive.Bus;
        out.Target = drive.Target;
        out.Letter = drive.Letter;
        out.CdRomNumber = static_cast<uint32_t>(drive.CdRomNumber);
        if (!CopyNarrow(drive.MapType, out.MapType, sizeof out.MapType) ||
            !CopyNarrow(drive.MapDeviceName, out.MapDeviceName, sizeof out.MapDeviceName)) {
            return Fail(0, "device map value too long for drive " + std::to_string(i + 1));
        }
        out.HasMapDeviceName = drive.HasMapDeviceName ? 1 : 0;
        out.IdentityCheckWithData = drive.IdentityCheckWithData ? 1 : 0;
        out.Gone = drive.Gone ? 1 : 0;
        out.FaultCount = static_cast<uint8_t>(drive.Faults.size());
        for (size_t f = 0; f < drive.Faults.size(); ++f) out.Faults[f] = drive.Faults[f];
        out.Config = drive.Config;
        out.FailCommandNumber = drive.FailCommandNumber;
        out.LatencyMilliseconds = drive.LatencyMilliseconds;
        if (!path(drive.FlashPath, out.FlashPath) || !path(drive.LogPath, out.LogPath)) return false;
    }
    return true;
}
