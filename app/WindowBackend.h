#pragma once

#include <string>

class CDialog;

// What a dialog needs of a windowing system: the modal run and the controls of its template. The
// Win32 backend sits on DialogBoxParamA; the headless one keeps the controls in memory so that the
// same dialog code runs in tests.
class WindowBackend {
public:
    using IconHandle = void*;

    // Message box and file dialog flags the dialog passes, with their Win32 values
    // (platform/win32 checks them against <windows.h>).
    static constexpr unsigned MbOkCancel = 0x01;
    static constexpr unsigned MbYesNo = 0x04;
    static constexpr unsigned long OfnHideReadOnly = 0x04;

    // The file-open dialog's settings.
    struct FileOpenRequest {
        const char* DefaultExtension = nullptr;   // "bin"
        const char* InitialName = nullptr;        // "*.bin"
        const char* FilterDescription = nullptr;  // "Firmware File (bin)"
        const char* FilterPattern = nullptr;      // "*.bin"
        const char* InitialDirectory = nullptr;   // null: none set
        unsigned long Flags = 0;                  // OFN_* flags
    };

    virtual ~WindowBackend() = default;

    // Creates the dialog from TEMPLATEID, calls its OnInitDialog, routes its commands until
    // EndDialog, and returns the end result (-1 when the dialog could not be created).
    virtual int RunModal(CDialog& dialog, int templateId) = 0;
    virtual void EndDialog(int result) = 0;

    virtual void SetControlText(int id, const char* text) = 0;
    virtual std::string GetControlText(int id) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    virtual bool IsControlEnabled(int id) = 0;

    // Combo boxes: entries are kept in the order added.
    virtual int AddComboEntry(int id, const char* text) = 0;
    virtual void SetComboSelection(int id, int index) = 0;
    virtual int GetComboSelection(int id) = 0;   // -1: no entry selected

    virtual void SetProgressRange(int id, int low, int high) = 0;
    virtual void SetProgressPosition(int id, int position) = 0;

    virtual std::string GetWindowTitle() = 0;
    virtual void SetWindowTitle(const char* title) = 0;
    virtual void SetIcon(IconHandle icon, bool big) = 0;
    virtual IconHandle LoadAppIcon(int resourceId) = 0;

    // A message box without an owner window; CAPTION may be null (the platform's default).
    virtual int ShowMessageBox(const char* text, const char* caption, unsigned type) = 0;
    // The process's current directory, as GetCurrentDirectoryA reports it: the length written,
    // 0 on failure, or the room needed (more than ROOM) when it does not fit.
    virtual unsigned long CurrentDirectory(char* buffer, unsigned long room) = 0;
    // Runs the file-open dialog; true and the full path when the user answered OK.
    virtual bool RunFileOpenDialog(const FileOpenRequest& request, std::string& chosenPath) = 0;
};
