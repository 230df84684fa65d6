#pragma once

#include "app/CWinApp.h"
#include "app/SystemApi.h"
#include "app/TransportFactory.h"
#include "app/WindowBackend.h"
#include "upgrade/FirmwareOperations.h"

// The program: records the system's version at construction, chooses and creates the drive-access
// layer, fills the dialog's list through one scan, runs the dialog, and, when the user accepted the
// restart prompt, forces a reboot as the very last act of the process (its destruction).
class UpgradeApp : public CWinApp {
public:
    struct Platform {
        SystemApi& System;
        TransportFactory& Transports;
        WindowBackend& Window;
        FirmwareOperations::Platform Operations;
    };

    explicit UpgradeApp(const Platform& platform);
    ~UpgradeApp() override;

    bool InitInstance() override;
    void RestartWindows();

    int PlatformSupported = 0;
    int RestartRequested = 0;

private:
    void Report(const char* text);

    Platform platform_;
};
