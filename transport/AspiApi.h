#pragma once

#include <cstdint>

// The ASPI manager is called through its C entry points with the caller cleaning the stack. The
// attribute means something only to 32-bit x86 code; elsewhere there is one convention and GCC
// would warn that it ignores it.
#if defined(_WIN32) && !defined(_WIN64)
#define ASPI_CDECL __cdecl
#else
#define ASPI_CDECL
#endif

// How AspiTransport reaches the ASPI for Win32 manager: it loads the manager's library by name at
// run time, so that the program still starts where none is installed and can say so. The three
// operations stand for LoadLibraryA, GetProcAddress and FreeLibrary and fail the way they do: a
// null module or a null entry point.
class AspiApi {
public:
    using Module = void*;
    // What a look-up finds, before it is given the entry point's own type (the generic function
    // pointer type that GetProcAddress's result is converted through).
    using Procedure = void (*)(void);
    // GetASPI32SupportInfo: bits 8-15 the manager's status, bits 0-7 the number of host adapters.
    using SupportInfoEntry = uint32_t(ASPI_CDECL*)(void);
    // SendASPI32Command: takes the address of a request block; the result lands in the block.
    using SendCommandEntry = uint32_t(ASPI_CDECL*)(void* request);

    virtual Module LoadLibraryNamed(const char* name) = 0;
    virtual Procedure FindEntryPoint(Module module, const char* name) = 0;
    virtual void FreeLoadedLibrary(Module module) = 0;

    virtual ~AspiApi() = default;
};
