// The program's wiring: the real implementation of every seam, the one application object, and
// the entry point that runs it.
#include <windows.h>
#include <commctrl.h>

#include "app/UpgradeApp.h"
#include "platform/win32/Win32AspiApi.h"
#include "platform/win32/Win32FileApi.h"
#include "platform/win32/Win32NtStorageApi.h"
#include "platform/win32/Win32SystemApi.h"
#include "platform/win32/Win32WindowBackend.h"
#include "transport/AspiTransport.h"
#include "transport/PassThroughTransport.h"
#include "upgrade/FirmwareSlot.h"

namespace {

class Win32TransportFactory final : public TransportFactory {
public:
    DriveTransport* CreatePassThroughTransport() override { return new PassThroughTransport(storage_); }
    DriveTransport* CreateAspiTransport() override { return new AspiTransport(aspi_); }

private:
    Win32NtStorageApi storage_;
    Win32AspiApi aspi_;
};

// Objects of one translation unit are constructed in the order written: the seams before the
// application object that holds them, and destroyed after it (its destruction may reboot).
Win32SystemApi SystemCalls;
Win32TransportFactory Transports;
Win32WindowBackend Window(::GetModuleHandleA(nullptr));
Win32FileApi Files;
Win32SleepApi Pauses;
HeapWorkBufferAllocator Buffers;

UpgradeApp TheApp({SystemCalls, Transports, Window,
                   {Files, Pauses, Buffers, reinterpret_cast<const unsigned char*>(&upgrade::EmbeddedSlot())}});

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The progress bar's window class lives in the common controls library.
    ::InitCommonControls();
    return TheApp.RunApplication();
}
