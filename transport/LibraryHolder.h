#pragma once

#include "transport/AspiApi.h"

// One library loaded through the ASPI seam, released exactly once: by Release, or when the
// holder ends, whichever comes first. A load that failed holds nothing.
class LibraryHolder {
public:
    explicit LibraryHolder(AspiApi& api) : api_(api) {}
    ~LibraryHolder() { Release(); }
    LibraryHolder(const LibraryHolder&) = delete;
    LibraryHolder& operator=(const LibraryHolder&) = delete;

    // LoadLibraryA; non-zero when the library is now held.
    int Load(const char* name) {
        Release();
        module_ = api_.LoadLibraryNamed(name);
        return module_ != nullptr ? 1 : 0;
    }
    // GetProcAddress in the held library; null when it has no such entry point.
    AspiApi::Procedure Find(const char* name) const { return api_.FindEntryPoint(module_, name); }
    void Release() {
        if (module_ == nullptr) return;
        AspiApi::Module module = module_;
        module_ = nullptr;
        api_.FreeLoadedLibrary(module);
    }

private:
    AspiApi& api_;
    AspiApi::Module module_ = nullptr;
};
