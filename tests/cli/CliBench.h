#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/FileSystemApi.h"
#include "cli/SignalApi.h"
#include "cli/TerminalApi.h"
#include "tests/sgio/LinuxMachineBench.h"
#include "tests/support/FakeFileApi.h"
#include "tests/support/TestDoubles.h"

// A terminal whose answers a test writes beforehand and whose output it reads back.
class ScriptedTerminal final : public TerminalApi {
public:
    bool Input = false;   // the standard input is a terminal
    bool Error = false;   // the standard error is a terminal
    std::deque<std::string> Answers;
    std::vector<std::string> Questions;   // what stood on the standard error when an answer was read
    // Runs while an answer is awaited; true when it interrupted the read (a signal caught).
    std::function<bool()> WhileReading;
    std::string Out;
    std::string Err;

    bool InputIsTerminal() override { return Input; }
    bool ErrorIsTerminal() override { return Error; }
    bool ReadLine(std::string& line) override;
    void Write(Stream stream, const char* text, size_t length) override;
};

// The process's signals as the program sees them: a test delivers one where it likes, and the
// fake notes it as the kernel would, caught, held (pending) or, where the program set nothing up,
// the end of the process (Killed).
class FakeSignals final : public SignalApi {
public:
    // Atomic: several drives' threads look at them while a test delivers a signal from one.
    std::atomic<bool> Catching{false};
    std::atomic<bool> Holding{false};   // the stop signals are blocked and the terminal's stops ignored
    std::atomic<int> CaughtSignal{0};
    std::atomic<int> PendingSignal{0};
    std::atomic<int> Killed{0};

    // A stop signal arrives; true when it interrupts the call in progress (caught, not held).
    bool Deliver(int signal);
    // As at the start of a process: nothing caught, held or pending.
    void Reset();

    void CatchStops() override { Catching = true; }
    int Caught() override { return CaughtSignal; }
    void HoldStops() override { Holding = true; }
    int Held() override { return PendingSignal; }
};

// The back-up's files in memory, in the same store as the dump file's, with failures to inject.
class FakeFileSystem final : public FileSystemApi {
public:
    explicit FakeFileSystem(std::map<std::string, std::vector<uint8_t>>& files) : files_(files) {}

    int FailCreate = 0;       // errno of the failing call; 0: it succeeds
    int FailWrite = 0;        // the write stops half-way with this errno (a full disk: ENOSPC)
    int FailSync = 0;
    int FailClose = 0;
    int FailRename = 0;
    int FailSyncFolder = 0;
    int Syncs = 0;
    int FolderSyncs = 0;
    int OpenCount() const { return static_cast<int>(open_.size()); }

    int Examine(const char* path, uint64_t* length, bool* regular) override;
    // Paths that exist and are no regular file (a folder, /dev/null).
    std::vector<std::string> Unusual;
    int CreateTemporary(const std::string& beside, std::string& path, int* fd) override;
    int WriteAll(int fd, const uint8_t* bytes, size_t length) override;
    int Sync(int fd) override;
    int Close(int fd) override;
    int Rename(const char* from, const char* to) override;
    int Remove(const char* path) override;
    int SyncFolderOf(const char* path) override;

private:
    std::mutex mutex_;   // several drives' threads keep their files at once
    std::map<std::string, std::vector<uint8_t>>& files_;
    std::map<int, std::string> open_;
    int nextFd_ = 100;
    int created_ = 0;
};

// flashupgrade's front-end on a simulated Linux machine: each Run is one process, with a new
// transport and program over the same machine, terminal and files.
class CliBench {
public:
    static constexpr size_t ImageSize = 131072;

    LinuxMachineBench Machine;
    ScriptedTerminal Terminal;
    FakeFileApi Files;
    FakeFileSystem FileSystem{Files.Files};
    RecordingSleep Sleep;
    CountingBufferAllocator Buffers;
    FakeSignals Signals;
    std::vector<unsigned char> Slot;

    // A slot holding IMAGEVERSION and an image of its own whose checksum it states.
    CliBench();
    std::vector<unsigned char> Image() const;
    // An image of FILL bytes but the first, FIRST, and the given checksum text.
    void SetImage(unsigned char fill, unsigned char first, const char* checksumText);
    void LeaveSlotUnfilled();
    void SpoilChecksum();

    // Runs flashupgrade with ARGUMENTS (split at blanks); the exit status.
    int Run(const std::string& arguments);
    // Without the bar's carriage returns: what a log of the standard error would show.
    std::vector<std::string> OutLines() const;
    std::vector<std::string> ErrLines() const;
    // The drive's commands as LinuxMachineBench::Commands gives them, without the INQUIRYs and
    // identity queries (those of the scan and those of each open).
    static std::vector<unsigned> FirmwareCommands(const emulator::EmulatedDrive& drive);
    // The eight dump reads with which an upgrade compares the flash with the image.
    static std::vector<unsigned> ComparingReads() { return std::vector<unsigned>(8, 0x3C11u); }
    // How many writes and commits reached the drive.
    static size_t WritesAndCommits(const emulator::EmulatedDrive& drive);
};
