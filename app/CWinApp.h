#pragma once

class CDialog;

// The application object of the small dialog framework: constructed once as a global, it runs
// InitInstance when the program starts; a false result skips the message loop and ends the
// program.
class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual bool InitInstance();
    // The framework's exit processing; returns the process's exit code.
    virtual int ExitInstance();
    // What the entry point calls: InitInstance, then (since no window stays open here) the exit.
    int RunApplication();

    // The window that stands for the application while it runs.
    CDialog* MainWindow = nullptr;

protected:
    // Framework services a dialog application turns on at start. The dialogs of this framework
    // host no embedded controls and take the system's three-dimensional look, so both only
    // report success.
    virtual bool EnableControlContainer();
    virtual bool Enable3dControls();

private:
    const char* appName_;
};
