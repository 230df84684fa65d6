#include "app/CWinApp.h"

CWinApp::CWinApp(const char* appName) : appName_(appName) {}

CWinApp::~CWinApp() = default;

bool CWinApp::InitInstance() {
    return true;
}

int CWinApp::ExitInstance() {
    return 0;
}

int CWinApp::RunApplication() {
    // A dialog application runs its dialog's own modal loop inside InitInstance and returns false:
    // there is no message loop of the framework's own to run afterwards.
    InitInstance();
    return ExitInstance();
}

bool CWinApp::EnableControlContainer() {
    return true;
}

bool CWinApp::Enable3dControls() {
    return true;
}
