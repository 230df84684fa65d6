#include "platform/win32/Win32WindowBackend.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "app/CDialog.h"

Win32WindowBackend::Win32WindowBackend(HINSTANCE instance) : instance_(instance) {}

int Win32WindowBackend::RunModal(CDialog& dialog, int templateId) {
    dialog_ = &dialog;
    const INT_PTR result = ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId), nullptr, DialogProcedure,
                                             reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    dialog_ = nullptr;
    return static_cast<int>(result);
}

INT_PTR CALLBACK Win32WindowBackend::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Win32WindowBackend* backend = nullptr;
    if (message == WM_INITDIALOG) {
        backend = reinterpret_cast<Win32WindowBackend*>(lParam);
        ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(backend));
        backend->window_ = window;
    } else {
        backend = reinterpret_cast<Win32WindowBackend*>(::GetWindowLongPtrA(window, DWLP_USER));
    }
    return backend != nullptr ? backend->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR Win32WindowBackend::Handle(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        // The template sits at (0, 0); the framework shows such a dialog in the middle of the screen.
        CentreOnScreen();
        // True: the system gives the focus to the first enabled tab-stop control.
        return dialog_->OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            dialog_->OnCommand(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        if (::IsIconic(window_)) {
            PaintMinimised();
            return TRUE;
        }
        return FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    default:
        return FALSE;
    }
}

void Win32WindowBackend::PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window_, &paint);
    ::SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    ::GetClientRect(window_, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, icon_);
    ::EndPaint(window_, &paint);
}

void Win32WindowBackend::CentreOnScreen() {
    RECT frame;
    if (!::GetWindowRect(window_, &frame)) return;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    ::SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32WindowBackend::EndDialog(int result) {
    ::EndDialog(window_, result);
}

void Win32WindowBackend::SetControlText(int id, const char* text) {
    ::SetDlgItemTextA(window_, id, text);
}

std::string Win32WindowBackend::GetControlText(int id) {
    HWND control = ::GetDlgItem(window_, id);
    const int length = ::GetWindowTextLengthA(control);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    ::GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    return std::string(text.data());
}

void Win32WindowBackend::EnableControl(int id, bool enabled) {
    ::EnableWindow(::GetDlgItem(window_, id), enabled ? TRUE : FALSE);
}

bool Win32WindowBackend::IsControlEnabled(int id) {
    return ::IsWindowEnabled(::GetDlgItem(window_, id)) != FALSE;
}

int Win32WindowBackend::AddComboEntry(int id, const char* text) {
    return static_cast<int>(::SendDlgItemMessageA(window_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

void Win32WindowBackend::SetComboSelection(int id, int index) {
    ::SendDlgItemMessageA(window_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32WindowBackend::GetComboSelection(int id) {
    const LRESULT selection = ::SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

void Win32WindowBackend::SetProgressRange(int id, int low, int high) {
    ::SendDlgItemMessageA(window_, id, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void Win32WindowBackend::SetProgressPosition(int id, int position) {
    ::SendDlgItemMessageA(window_, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

std::string Win32WindowBackend::GetWindowTitle() {
    const int length = ::GetWindowTextLengthA(window_);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    ::GetWindowTextA(window_, text.data(), static_cast<int>(text.size()));
    return std::string(text.data());
}

void Win32WindowBackend::SetWindowTitle(const char* title) {
    ::SetWindowTextA(window_, title);
}

void Win32WindowBackend::SetIcon(IconHandle icon, bool big) {
    if (big) icon_ = static_cast<HICON>(icon);
    ::SendMessageA(window_, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

WindowBackend::IconHandle Win32WindowBackend::LoadAppIcon(int resourceId) {
    return ::LoadIconA(instance_, MAKEINTRESOURCEA(resourceId));
}

int Win32WindowBackend::ShowMessageBox(const char* text, const char* caption, unsigned type) {
    return ::MessageBoxA(nullptr, text, caption, type);
}

unsigned long Win32WindowBackend::CurrentDirectory(char* buffer, unsigned long room) {
    return ::GetCurrentDirectoryA(room, buffer);
}

bool Win32WindowBackend::RunFileOpenDialog(const FileOpenRequest& request, std::string& chosenPath) {
    // Description and pattern, each NUL-terminated, and a final NUL.
    std::string filter;
    filter.append(request.FilterDescription != nullptr ? request.FilterDescription : "").push_back('\0');
    filter.append(request.FilterPattern != nullptr ? request.FilterPattern : "").push_back('\0');
    filter.push_back('\0');

    char file[MAX_PATH] = {};
    if (request.InitialName != nullptr) lstrcpynA(file, request.InitialName, sizeof file);

    OPENFILENAMEA dialog = {};
    // The size without the Windows 2000 additions, which older systems refuse.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    // No explicit parent: the framework makes the running dialog the owner.
    dialog.hwndOwner = window_;
    dialog.hInstance = instance_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = request.InitialDirectory;
    dialog.lpstrDefExt = request.DefaultExtension;
    // The framework always asks for the Explorer-style dialog; the caller's flags come on top.
    dialog.Flags = static_cast<DWORD>(request.Flags) | OFN_EXPLORER;
    if (!::GetOpenFileNameA(&dialog)) return false;
    chosenPath = file;
    return true;
}
