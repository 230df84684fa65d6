#include "platform/win32/Win32AspiApi.h"

#include <windows.h>

AspiApi::Module Win32AspiApi::LoadLibraryNamed(const char* name) {
    return ::LoadLibraryA(name);
}

AspiApi::Procedure Win32AspiApi::FindEntryPoint(Module module, const char* name) {
    // FARPROC to the generic function pointer type: the caller gives it the entry point's own type.
    return reinterpret_cast<Procedure>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void Win32AspiApi::FreeLoadedLibrary(Module module) {
    ::FreeLibrary(static_cast<HMODULE>(module));
}
