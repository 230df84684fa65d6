#include "app/UpgradeApp.h"

#include "app/ActiveTransport.h"
#include "app/UpgradeDialog.h"
#include "transport/OsVersionInfo.h"

namespace {

constexpr const char* Caption = "DVD Firmware Upgrade Program";

}  // namespace

UpgradeApp::UpgradeApp(const Platform& platform) : CWinApp(nullptr), platform_(platform) {
    OsVersionInfo.dwOSVersionInfoSize = sizeof(OsVersionRecord);
    PlatformSupported = platform_.System.GetVersionExA(&OsVersionInfo);
    // Win32s runs 32-bit programs on Windows 3.1, which has neither transport's layer.
    if (PlatformSupported && OsVersionInfo.dwPlatformId == PlatformWin32s) PlatformSupported = 0;
}

UpgradeApp::~UpgradeApp() {
    if (RestartRequested) RestartWindows();
}

void UpgradeApp::Report(const char* text) {
    platform_.System.ShowMessageBox(text, Caption, SystemApi::MbOk);
}

bool UpgradeApp::InitInstance() {
    EnableControlContainer();
    Enable3dControls();

    if (!PlatformSupported) {
        Report("Flash ROM Upgrade Program Initialized Failed!!");
        return false;
    }

    UpgradeDialog dialog(platform_.Window, platform_.Operations);
    MainWindow = &dialog;

    const bool nt = OsVersionInfo.dwPlatformId == PlatformWindowsNt;
    ActiveTransport = nt ? platform_.Transports.CreatePassThroughTransport()
                         : platform_.Transports.CreateAspiTransport();
    if (ActiveTransport == nullptr || !ActiveTransport->Usable) {
        Report(nt ? "Flash ROM Upgrade Program Initialized Failed (Windows NT/2000)!!"
                  : "Flash ROM Upgrade Program Initialized Failed (Windows 95/98)!!\nASPI for Win32 is not "
                    "initialized!!");
        // Deleted here too, so that nothing of an unusable layer outlives the start-up.
        delete ActiveTransport;
        ActiveTransport = nullptr;
        MainWindow = nullptr;
        return false;
    }

    ActiveTransport->EnumerateDevices(dialog.DeviceList);
    if (dialog.DeviceList.Count() != 0) {
        RestartRequested = 0;
        dialog.DoModal();
        RestartRequested = dialog.RestartRequested;
    } else {
        Report("No Optical Media Found!!");
    }

    delete ActiveTransport;
    ActiveTransport = nullptr;
    MainWindow = nullptr;
    return false;
}

void UpgradeApp::RestartWindows() {
    SystemApi& system = platform_.System;
    if (OsVersionInfo.dwPlatformId == PlatformWindowsNt) {
        // A forced reboot needs the shutdown privilege enabled in the process's token.
        SystemApi::Handle token = nullptr;
        if (!system.OpenProcessToken(system.GetCurrentProcess(), SystemApi::TokenAdjustPrivileges | SystemApi::TokenQuery, &token)) {
            Report("Reboot : OpenProcessToken Fail!!");
        }
        SystemApi::TokenPrivilege privilege = {};
        // A failed look-up leaves the identifier zeroed; the adjustment's error then reports it.
        system.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privilege.PrivilegeLuid);
        privilege.PrivilegeCount = 1;
        privilege.Attributes = SystemApi::SePrivilegeEnabled;
        system.AdjustTokenPrivileges(token, 0, &privilege);
        // The call succeeds even when the privilege was not assigned; only the last error tells.
        if (system.GetLastError() != 0) Report("Reboot : AdjustTokenPrivileges Fail!!");
    }
    if (!system.ExitWindowsEx(SystemApi::EwxReboot | SystemApi::EwxForce, 0)) Report("Reboot : ExitWindowsEx Fail!!");
}
