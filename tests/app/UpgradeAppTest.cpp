// The application object: the platform check, the choice of transport, every start-up message,
// the dialog's run and the restart at the end.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/UpgradeApp.h"
#include "tests/support/UpgradeBench.h"

namespace {

using Events = std::vector<std::string>;

class RecordingSystem final : public SystemApi {
public:
    explicit RecordingSystem(Events& events) : events_(events) {}

    int VersionResult = 1;
    uint32_t PlatformId = PlatformWindowsNt;
    uint32_t MajorVersion = 5;
    int TokenResult = 1;
    int LookupResult = 1;
    uint32_t LastError = 0;
    int ExitResult = 1;
    std::vector<std::string> Boxes;
    Luid AdjustedLuid = {};
    uint32_t AskedAccess = 0;
    unsigned ExitFlags = 0;

    int GetVersionExA(OsVersionRecord* record) override {
        events_.push_back("GetVersionEx size=" + std::to_string(record->dwOSVersionInfoSize));
        if (!VersionResult) return 0;
        record->dwPlatformId = PlatformId;
        record->dwMajorVersion = MajorVersion;
        return 1;
    }
    Handle GetCurrentProcess() override { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }
    int OpenProcessToken(Handle, uint32_t access, Handle* token) override {
        events_.push_back("OpenProcessToken");
        AskedAccess = access;
        *token = TokenResult ? reinterpret_cast<Handle>(0x44) : nullptr;
        return TokenResult;
    }
    int LookupPrivilegeValueA(const char* system, const char* name, Luid* luid) override {
        events_.push_back(std::string("LookupPrivilegeValue ") + (system == nullptr ? "local" : system) + " " + name);
        if (LookupResult) *luid = Luid{0x13, 0};
        return LookupResult;
    }
    int AdjustTokenPrivileges(Handle token, int disableAll, const TokenPrivilege* state) override {
        events_.push_back("AdjustTokenPrivileges token=" + std::string(token != nullptr ? "yes" : "none") +
                          " all=" + std::to_string(disableAll) + " count=" + std::to_string(state->PrivilegeCount) +
                          " attributes=" + std::to_string(state->Attributes));
        AdjustedLuid = state->PrivilegeLuid;
        return 1;
    }
    uint32_t GetLastError() override { return LastError; }
    int ExitWindowsEx(unsigned flags, uint32_t reason) override {
        events_.push_back("ExitWindowsEx flags=" + std::to_string(flags) + " reason=" + std::to_string(reason));
        ExitFlags = flags;
        return ExitResult;
    }
    int ShowMessageBox(const char* text, const char* caption, unsigned type) override {
        events_.push_back(std::string("box ") + text);
        EXPECT_STREQ(caption, "DVD Firmware Upgrade Program");
        EXPECT_EQ(type, 0u);
        Boxes.push_back(text);
        return 1;
    }

private:
    Events& events_;
};

class RecordedTransport final : public EmulatedTransport {
public:
    RecordedTransport(Events& events, const char* kind) : events_(events) { events_.push_back(std::string("create ") + kind); }
    ~RecordedTransport() override { events_.push_back("delete transport"); }
    void EnumerateDevices(DeviceList& list) override {
        events_.push_back("scan");
        EmulatedTransport::EnumerateDevices(list);
    }

private:
    Events& events_;
};

class RecordingFactory final : public TransportFactory {
public:
    RecordingFactory(Events& events, UpgradeBench& bench) : events_(events), bench_(bench) {}
    bool Usable = true;
    DriveTransport* CreatePassThroughTransport() override { return Make("pass-through"); }
    DriveTransport* CreateAspiTransport() override { return Make("ASPI"); }

private:
    DriveTransport* Make(const char* kind) {
        // The dialog loads its icon when it is built: it must exist before any transport does.
        events_.push_back(bench_.Backend.IconLoads() == 1 ? "dialog built" : "no dialog");
        auto* transport = new RecordedTransport(events_, kind);
        transport->Usable = Usable ? 1 : 0;
        for (size_t i = 0; i < bench_.Drives.size(); ++i) {
            transport->AttachDrive(0, static_cast<uint8_t>(i), &bench_.Drives[i]->Drive);
        }
        return transport;
    }
    Events& events_;
    UpgradeBench& bench_;
};

// The application with its framework switches and the start-up's result on the record.
class RecordedApp final : public UpgradeApp {
public:
    RecordedApp(const Platform& platform, Events& events) : UpgradeApp(platform), events_(events) {}
    bool InitInstance() override {
        const bool result = UpgradeApp::InitInstance();
        events_.push_back(result ? "start-up true" : "start-up false");
        return result;
    }

protected:
    bool EnableControlContainer() override {
        events_.push_back("control container");
        return UpgradeApp::EnableControlContainer();
    }
    bool Enable3dControls() override {
        events_.push_back("3d controls");
        return UpgradeApp::Enable3dControls();
    }

private:
    Events& events_;
};

// Everything the application runs on; the application itself is made by each test.
struct AppBench {
    Events events;
    UpgradeBench drives;
    RecordingSystem system{events};
    RecordingFactory factory{events, drives};

    AppBench() { drives.FillSlot(UpgradeBench::PatternImage()); }

    std::unique_ptr<UpgradeApp> Make() {
        UpgradeApp::Platform platform{system, factory, drives.Backend,
                                      {drives.Files, drives.Sleep, drives.Buffers, drives.Slot.data()}};
        return std::make_unique<RecordedApp>(platform, events);
    }

    // Runs the whole program: construction, start-up, destruction.
    void Run() {
        auto app = Make();
        app->RunApplication();
        events.push_back("app ends");
        app.reset();
    }
};

TEST(UpgradeApp, UnsupportedPlatformShowsOneMessageAndCreatesNothing) {
    struct Case {
        int versionResult;
        uint32_t platformId;
    };
    for (const Case c : {Case{1, PlatformWin32s}, Case{0, PlatformWindowsNt}}) {
        AppBench bench;
        bench.system.VersionResult = c.versionResult;
        bench.system.PlatformId = c.platformId;
        bench.Run();
        EXPECT_EQ(bench.events, (Events{"GetVersionEx size=148", "control container", "3d controls",
                                        "box Flash ROM Upgrade Program Initialized Failed!!", "start-up false",
                                        "app ends"}));
        EXPECT_EQ(bench.drives.Backend.ModalRuns(), 0);
    }
}

TEST(UpgradeApp, PlatformIdChoosesTheTransport) {
    struct Case {
        uint32_t platformId;
        const char* created;
    };
    for (const Case c : {Case{PlatformWindowsNt, "create pass-through"}, Case{PlatformWindows9x, "create ASPI"},
                         Case{7, "create ASPI"}}) {
        AppBench bench;
        bench.drives.AddDrive();
        bench.system.PlatformId = c.platformId;
        bench.drives.Backend.QueueCommand(ControlExit);
        bench.Run();
        EXPECT_EQ(bench.events, (Events{"GetVersionEx size=148", "control container", "3d controls", "dialog built",
                                        c.created, "scan", "delete transport", "start-up false", "app ends"}));
        EXPECT_EQ(bench.drives.Backend.ModalRuns(), 1);
        EXPECT_EQ(ActiveTransport, nullptr);
    }
}

TEST(UpgradeApp, UnusableTransportGivesItsPlatformsMessageAndNoScan) {
    struct Case {
        uint32_t platformId;
        const char* created;
        const char* message;
    };
    const Case cases[] = {
        {PlatformWindowsNt, "create pass-through", "Flash ROM Upgrade Program Initialized Failed (Windows NT/2000)!!"},
        {PlatformWindows9x, "create ASPI",
         "Flash ROM Upgrade Program Initialized Failed (Windows 95/98)!!\nASPI for Win32 is not initialized!!"},
    };
    for (const Case& c : cases) {
        AppBench bench;
        BenchDrive& drive = bench.drives.AddDrive();
        bench.system.PlatformId = c.platformId;
        bench.factory.Usable = false;
        bench.Run();
        EXPECT_EQ(bench.events, (Events{"GetVersionEx size=148", "control container", "3d controls", "dialog built",
                                        c.created, std::string("box ") + c.message, "delete transport",
                                        "start-up false", "app ends"}));
        EXPECT_EQ(LogLetters(drive.Drive), "");
        EXPECT_EQ(bench.drives.Backend.ModalRuns(), 0);
    }
}

TEST(UpgradeApp, NoDriveFoundSkipsTheDialogAndNeverReboots) {
    AppBench bench;
    bench.Run();
    EXPECT_EQ(bench.events, (Events{"GetVersionEx size=148", "control container", "3d controls", "dialog built",
                                    "create pass-through", "scan", "box No Optical Media Found!!", "delete transport",
                                    "start-up false", "app ends"}));
    EXPECT_EQ(bench.drives.Backend.ModalRuns(), 0);
}

TEST(UpgradeApp, LeavingWithoutAcceptingTheRestartEndsWithoutReboot) {
    for (bool upgrade : {false, true}) {
        AppBench bench;
        bench.drives.AddDrive();
        if (upgrade) {
            bench.drives.Backend.QueueCommand(ControlUpgrade);
            bench.drives.Backend.MessageBoxAnswers.push_back(2);   // Cancel to the restart prompt
        }
        bench.drives.Backend.QueueCommand(IdCancel);
        bench.Run();
        EXPECT_EQ(bench.events, (Events{"GetVersionEx size=148", "control container", "3d controls", "dialog built",
                                        "create pass-through", "scan", "delete transport", "start-up false",
                                        "app ends"}));
    }
}

TEST(UpgradeApp, AcceptedRestartRebootsAfterTheDialogAndTheTransportAreGone) {
    AppBench bench;
    bench.drives.AddDrive();
    bench.drives.Backend.QueueCommand(ControlUpgrade);
    bench.drives.Backend.QueueCommand(ControlExit);
    bench.drives.Backend.MessageBoxAnswers.push_back(1);   // OK
    bench.Run();
    EXPECT_EQ(bench.events,
              (Events{"GetVersionEx size=148", "control container", "3d controls", "dialog built",
                      "create pass-through", "scan", "delete transport", "start-up false", "app ends",
                      "OpenProcessToken", "LookupPrivilegeValue local SeShutdownPrivilege",
                      "AdjustTokenPrivileges token=yes all=0 count=1 attributes=2", "ExitWindowsEx flags=6 reason=0"}));
    EXPECT_EQ(bench.system.AskedAccess, 40u);
    EXPECT_EQ(bench.system.AdjustedLuid.LowPart, 0x13u);
}

TEST(UpgradeApp, RestartSequenceReportsEachFailureAndStillAsksForTheReboot) {
    struct Case {
        const char* what;
        uint32_t platformId;
        int token, lookup;
        uint32_t lastError;
        int exitResult;
        Events expected;
    };
    const Case cases[] = {
        {"no token", PlatformWindowsNt, 0, 1, 6, 1,
         {"OpenProcessToken", "box Reboot : OpenProcessToken Fail!!", "LookupPrivilegeValue local SeShutdownPrivilege",
          "AdjustTokenPrivileges token=none all=0 count=1 attributes=2", "box Reboot : AdjustTokenPrivileges Fail!!",
          "ExitWindowsEx flags=6 reason=0"}},
        {"privilege not held", PlatformWindowsNt, 1, 1, 1300, 0,
         {"OpenProcessToken", "LookupPrivilegeValue local SeShutdownPrivilege",
          "AdjustTokenPrivileges token=yes all=0 count=1 attributes=2", "box Reboot : AdjustTokenPrivileges Fail!!",
          "ExitWindowsEx flags=6 reason=0", "box Reboot : ExitWindowsEx Fail!!"}},
        {"look-up fails", PlatformWindowsNt, 1, 0, 1313, 1,
         {"OpenProcessToken", "LookupPrivilegeValue local SeShutdownPrivilege",
          "AdjustTokenPrivileges token=yes all=0 count=1 attributes=2", "box Reboot : AdjustTokenPrivileges Fail!!",
          "ExitWindowsEx flags=6 reason=0"}},
        {"Windows 98", PlatformWindows9x, 1, 1, 0, 1, {"ExitWindowsEx flags=6 reason=0"}},
        {"Windows 98, refused", PlatformWindows9x, 1, 1, 0, 0,
         {"ExitWindowsEx flags=6 reason=0", "box Reboot : ExitWindowsEx Fail!!"}},
    };
    for (const Case& c : cases) {
        AppBench bench;
        bench.system.PlatformId = c.platformId;
        bench.system.TokenResult = c.token;
        bench.system.LookupResult = c.lookup;
        bench.system.LastError = c.lastError;
        bench.system.ExitResult = c.exitResult;
        {
            auto app = bench.Make();
            bench.events.clear();
            app->RestartRequested = 1;
        }
        EXPECT_EQ(bench.events, c.expected) << c.what;
        if (std::string(c.what) == "look-up fails") {
            EXPECT_EQ(bench.system.AdjustedLuid.LowPart, 0u);
            EXPECT_EQ(bench.system.AdjustedLuid.HighPart, 0);
        }
    }
}

}  // namespace
