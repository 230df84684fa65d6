#pragma once

#include <windows.h>

#include "app/WindowBackend.h"

// The dialog framework's window: DialogBoxParamA on the program's dialog template, its window
// procedure routing WM_COMMAND to the dialog, and the control operations on the real controls.
class Win32WindowBackend final : public WindowBackend {
public:
    explicit Win32WindowBackend(HINSTANCE instance);

    int RunModal(CDialog& dialog, int templateId) override;
    void EndDialog(int result) override;
    void SetControlText(int id, const char* text) override;
    std::string GetControlText(int id) override;
    void EnableControl(int id, bool enabled) override;
    bool IsControlEnabled(int id) override;
    int AddComboEntry(int id, const char* text) override;
    void SetComboSelection(int id, int index) override;
    int GetComboSelection(int id) override;
    void SetProgressRange(int id, int low, int high) override;
    void SetProgressPosition(int id, int position) override;
    std::string GetWindowTitle() override;
    void SetWindowTitle(const char* title) override;
    void SetIcon(IconHandle icon, bool big) override;
    IconHandle LoadAppIcon(int resourceId) override;
    int ShowMessageBox(const char* text, const char* caption, unsigned type) override;
    unsigned long CurrentDirectory(char* buffer, unsigned long room) override;
    bool RunFileOpenDialog(const FileOpenRequest& request, std::string& chosenPath) override;

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void PaintMinimised();
    void CentreOnScreen();

    HINSTANCE instance_;
    HWND window_ = nullptr;
    CDialog* dialog_ = nullptr;
    HICON icon_ = nullptr;
};
