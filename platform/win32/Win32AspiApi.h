#pragma once

#include "transport/AspiApi.h"

// The ASPI manager's library through LoadLibraryA, GetProcAddress and FreeLibrary. Holds nothing:
// the transport owns what it loads and releases it itself.
class Win32AspiApi final : public AspiApi {
public:
    Module LoadLibraryNamed(const char* name) override;
    Procedure FindEntryPoint(Module module, const char* name) override;
    void FreeLoadedLibrary(Module module) override;
};
