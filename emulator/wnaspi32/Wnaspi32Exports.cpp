// The two entry points of an ASPI for Win32 manager, exported undecorated (wnaspi32.def), and the
// DLL's entry. Everything else lives in EmulatedAspiManager.
#include <windows.h>

#include "emulator/wnaspi32/EmulatedAspiManager.h"

namespace {

EmulatedAspiManager manager;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) return manager.Attach(instance) ? TRUE : FALSE;
    // At process exit (reserved non-null) the other threads are already gone, the lock possibly
    // with them: touch nothing.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) manager.Detach();
    return TRUE;
}

extern "C" DWORD __cdecl GetASPI32SupportInfo(void) {
    return manager.GetSupportInfo();
}

extern "C" DWORD __cdecl SendASPI32Command(void* request) {
    return manager.SendCommand(request);
}
