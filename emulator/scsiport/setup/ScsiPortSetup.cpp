// scsiport-setup: installs the emulated SCSI port driver into a Wine prefix (or a Windows of its
// kind) and gives it the machine to make.
//   scsiport-setup CONFIG     copies EmulatedScsiPort.sys (found beside this program) into the
//                             system's drivers folder, registers it as a service that starts with
//                             the system, and stores CONFIG's settings for it
//   scsiport-setup --remove   unregisters it
// The driver reads its settings when it loads: under Wine, when the wineserver next starts.
#include <windows.h>

#include <stdio.h>

#include <string>

#include "emulator/scsiport/ScsiPortConfig.h"

namespace {

const char ServiceKey[] = "System\\CurrentControlSet\\Services\\EmulatedScsiPort";
const char DriverFile[] = "EmulatedScsiPort.sys";

int Fail(const std::string& message) {
    fprintf(stderr, "scsiport-setup: %s\n", message.c_str());
    return 1;
}

std::string ErrorText(DWORD error) {
    return "error " + std::to_string(error);
}

bool NtPath(const std::string& file, std::u16string& out) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(file.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return false;
    wchar_t wide[MAX_PATH];
    const int count = MultiByteToWideChar(CP_ACP, 0, full, -1, wide, MAX_PATH);
    if (count <= 0) return false;
    out = u"\\??\\";
    for (int i = 0; i + 1 < count; ++i) out += static_cast<char16_t>(wide[i]);
    return true;
}

std::string Directory(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool ReadAll(const std::string& path, std::string& content) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buffer[65536];
    size_t got;
    content.clear();
    while ((got = fread(buffer, 1, sizeof buffer, f)) != 0) content.append(buffer, got);
    const bool ok = ferror(f) == 0;
    fclose(f);
    return ok;
}

// A loaded driver's file cannot be overwritten (the device host has it open). The same bytes are
// left where they are; a newer driver takes the old one's place after it has been moved aside,
// which a file in use allows. The running driver goes on until the system (the wineserver) restarts.
bool InstallDriverFile(const std::string& source, const std::string& installed) {
    std::string wanted, present;
    if (!ReadAll(source, wanted)) return false;
    if (ReadAll(installed, present) && wanted == present) return true;
    if (CopyFileA(source.c_str(), installed.c_str(), FALSE)) return true;
    const std::string aside = installed + ".old";
    return MoveFileExA(installed.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING) &&
           CopyFileA(source.c_str(), installed.c_str(), FALSE);
}

LONG SetNumber(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

int Install(const char* configPath) {
    ScsiPortConfig config;
    if (!config.Load(configPath)) return Fail(config.Error());
    static emulator::ScsiPortSettings settings;
    if (!config.ToSettings(settings, NtPath)) return Fail(config.Error());

    char self[MAX_PATH];
    const DWORD selfLength = GetModuleFileNameA(nullptr, self, sizeof self);
    if (selfLength == 0 || selfLength >= sizeof self) return Fail("cannot find where this program is");
    const std::string source = Directory(self) + "\\" + DriverFile;
    char system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryA(system, sizeof system);
    if (systemLength == 0 || systemLength >= sizeof system) return Fail("cannot find the system folder");
    const std::string drivers = std::string(system) + "\\drivers";
    CreateDirectoryA(drivers.c_str(), nullptr);
    const std::string installed = drivers + "\\" + DriverFile;
    if (!InstallDriverFile(source, installed)) {
        return Fail("cannot copy " + source + " to " + installed + ": " + ErrorText(GetLastError()));
    }

    HKEY service;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, ServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &service,
                                  nullptr);
    if (result != ERROR_SUCCESS) return Fail(std::string("cannot create ") + ServiceKey + ": " + ErrorText(result));
    // A kernel driver that starts with the system; ErrorControl 1: a failure is logged, not fatal.
    result = SetNumber(service, "Type", SERVICE_KERNEL_DRIVER);
    if (result == ERROR_SUCCESS) result = SetNumber(service, "Start", SERVICE_AUTO_START);
    if (result == ERROR_SUCCESS) result = SetNumber(service, "ErrorControl", SERVICE_ERROR_NORMAL);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(service, "ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(installed.c_str()),
                                static_cast<DWORD>(installed.size() + 1));
    }
    HKEY parameters = nullptr;
    if (result == ERROR_SUCCESS) {
        result = RegCreateKeyExA(service, "Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parameters, nullptr);
    }
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(parameters, "Settings", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&settings),
                                sizeof settings);
    }
    if (parameters != nullptr) RegCloseKey(parameters);
    RegCloseKey(service);
    if (result != ERROR_SUCCESS) return Fail("cannot register the driver: " + ErrorText(result));
    printf("installed %s with %u port(s) and %u drive(s); it loads when the system (the wineserver) next starts\n",
           installed.c_str(), static_cast<unsigned>(settings.PortCount), static_cast<unsigned>(settings.DriveCount));
    return 0;
}

int Remove() {
    const LONG result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, ServiceKey);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        return Fail("cannot remove the driver's registration: " + ErrorText(result));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--remove") return Remove();
    if (argc != 2 || argv[1][0] == '-') {
        fprintf(stderr, "usage: scsiport-setup CONFIG | --remove\n");
        return 2;
    }
    return Install(argv[1]);
}
