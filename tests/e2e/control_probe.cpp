// Reads a control of a running program's window from outside, as a user's eyes would:
//   control_probe TITLE ID centre       screen centre of the control: "x y"
//   control_probe TITLE ID text         the control's text
//   control_probe TITLE ID enabled      1 or 0
//   control_probe TITLE ID visible      1 or 0
//   control_probe TITLE ID entries      the combo box's entries, one a line
//   control_probe TITLE ID selection    the combo box's selected entry, -1 for none
//   control_probe TITLE ID position     the progress bar's position
//   control_probe TITLE 0 title         the window's own title (found by TITLE as a prefix)
//   control_probe TITLE 0 handles       the names of the objects the window's process holds
//                                       handles to (keys, files, devices), one a line
// TITLE is the start of the window's title. Exits 1 when the window or control is not there.
// Wine's screen coordinates are the X root window's, so a click there hits the control.
#include <windows.h>
#include <commctrl.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Search {
    const char* prefix;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    char title[512] = {};
    ::GetWindowTextA(window, title, sizeof title);
    if (::IsWindowVisible(window) && std::strncmp(title, search->prefix, std::strlen(search->prefix)) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string Narrow(const wchar_t* text) {
    char buffer[1024] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

// SYSTEM_HANDLE_INFORMATION, which winternl.h does not spell out.
struct HandleEntry {
    ULONG OwnerPid;
    UCHAR ObjectType;
    UCHAR HandleFlags;
    USHORT HandleValue;
    void* ObjectPointer;
    ACCESS_MASK GrantedAccess;
};
struct HandleList {
    ULONG Count;
    HandleEntry Entries[1];
};

// Every named object the process of WINDOW holds a handle to: a copy of each handle is made
// here and asked for its name.
int PrintHandles(HWND window) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    HANDLE process = ::OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid);
    if (process == nullptr) return 1;
    std::string list(1 << 20, '\0');
    ULONG got = 0;
    while (NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), &list[0],
                                    static_cast<ULONG>(list.size()), &got) != 0) {
        if (list.size() >= (64u << 20)) return 1;
        list.resize(list.size() * 2);
    }
    const HandleList* handles = reinterpret_cast<const HandleList*>(list.data());
    for (ULONG i = 0; i < handles->Count; ++i) {
        const HandleEntry& entry = handles->Entries[i];
        if (entry.OwnerPid != pid) continue;
        HANDLE copy = nullptr;
        if (!::DuplicateHandle(process, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.HandleValue)),
                               ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            continue;
        }
        union {
            OBJECT_NAME_INFORMATION info;
            char room[4096];
        } name = {};
        ULONG length = 0;
        if (NtQueryObject(copy, static_cast<OBJECT_INFORMATION_CLASS>(1), &name, sizeof name, &length) == 0 &&
            name.info.Name.Buffer != nullptr && name.info.Name.Length != 0) {
            std::wstring text(name.info.Name.Buffer, name.info.Name.Length / sizeof(wchar_t));
            std::printf("%s\n", Narrow(text.c_str()).c_str());
        }
        ::CloseHandle(copy);
    }
    ::CloseHandle(process);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: control_probe TITLE ID centre|text|enabled|visible|entries|selection|position|title|handles\n");
        return 2;
    }
    Search search{argv[1], nullptr};
    ::EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) return 1;
    const std::string what = argv[3];
    if (what == "title") {
        char title[512] = {};
        ::GetWindowTextA(search.found, title, sizeof title);
        std::printf("%s\n", title);
        return 0;
    }
    if (what == "handles") return PrintHandles(search.found);
    HWND control = ::GetDlgItem(search.found, std::atoi(argv[2]));
    if (control == nullptr) return 1;
    if (what == "centre") {
        RECT r;
        ::GetWindowRect(control, &r);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    } else if (what == "text") {
        // WM_GETTEXT itself: GetWindowText of another process's control does not ask the control.
        wchar_t text[1024] = {};
        ::SendMessageW(control, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text));
        std::printf("%s\n", Narrow(text).c_str());
    } else if (what == "enabled") {
        std::printf("%d\n", ::IsWindowEnabled(control) ? 1 : 0);
    } else if (what == "visible") {
        std::printf("%d\n", ::IsWindowVisible(control) ? 1 : 0);
    } else if (what == "entries") {
        // The wide message: from another process the ANSI one returns only the first character.
        const LRESULT count = ::SendMessageW(control, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t entry[512] = {};
            ::SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
            std::printf("%s\n", Narrow(entry).c_str());
        }
    } else if (what == "selection") {
        std::printf("%ld\n", static_cast<long>(::SendMessageW(control, CB_GETCURSEL, 0, 0)));
    } else if (what == "position") {
        std::printf("%ld\n", static_cast<long>(::SendMessageW(control, PBM_GETPOS, 0, 0)));
    } else {
        return 2;
    }
    return 0;
}
