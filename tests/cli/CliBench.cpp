#include "tests/cli/CliBench.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "cli/FlashUpgradeProgram.h"
#include "transport/SgIoTransport.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"

using upgrade::FirmwareSlot;

bool ScriptedTerminal::ReadLine(std::string& line) {
    Questions.push_back(Err);
    if (WhileReading && WhileReading()) return false;
    if (Answers.empty()) return false;
    line = Answers.front();
    Answers.pop_front();
    return true;
}

void ScriptedTerminal::Write(Stream stream, const char* text, size_t length) {
    (stream == Stream::Out ? Out : Err).append(text, length);
}

bool FakeSignals::Deliver(int signal) {
    int none = 0;
    if (Holding) {
        PendingSignal.compare_exchange_strong(none, signal);
        return false;
    }
    if (!Catching) {
        Killed = signal;
        return false;
    }
    CaughtSignal.compare_exchange_strong(none, signal);
    return true;
}

void FakeSignals::Reset() {
    Catching = false;
    Holding = false;
    CaughtSignal = 0;
    PendingSignal = 0;
    Killed = 0;
}

int FakeFileSystem::Examine(const char* path, uint64_t* length, bool* regular) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& unusual : Unusual) {
        if (unusual == path) {
            *length = 0;
            *regular = false;
            return 0;
        }
    }
    const auto it = files_.find(path);
    if (it == files_.end()) return ENOENT;
    *length = it->second.size();
    *regular = true;
    return 0;
}

int FakeFileSystem::CreateTemporary(const std::string& beside, std::string& path, int* fd) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (FailCreate != 0) return FailCreate;
    path = beside + ".partial-" + std::to_string(++created_);
    files_[path];
    *fd = nextFd_++;
    open_[*fd] = path;
    return 0;
}

int FakeFileSystem::WriteAll(int fd, const uint8_t* bytes, size_t length) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = open_.find(fd);
    if (it == open_.end()) return EBADF;
    std::vector<uint8_t>& file = files_[it->second];
    if (FailWrite != 0) {
        file.insert(file.end(), bytes, bytes + length / 2);
        return FailWrite;
    }
    file.insert(file.end(), bytes, bytes + length);
    return 0;
}

int FakeFileSystem::Sync(int fd) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_.count(fd) == 0) return EBADF;
    ++Syncs;
    return FailSync;
}

int FakeFileSystem::Close(int fd) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_.erase(fd) == 0) return EBADF;
    return FailClose;
}

int FakeFileSystem::Rename(const char* from, const char* to) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (FailRename != 0) return FailRename;
    const auto it = files_.find(from);
    if (it == files_.end()) return ENOENT;
    files_[to] = it->second;
    files_.erase(from);
    return 0;
}

int FakeFileSystem::Remove(const char* path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return files_.erase(path) != 0 ? 0 : ENOENT;
}

int FakeFileSystem::SyncFolderOf(const char*) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++FolderSyncs;
    return FailSyncFolder;
}

CliBench::CliBench() : Slot(FirmwareSlot::Size, 0) {
    std::memcpy(Slot.data() + offsetof(FirmwareSlot, VersionText), "1.51", 5);
    unsigned seed = 151;
    for (size_t i = 0; i < ImageSize; ++i) {
        seed = seed * 1103515245u + 12345u;
        Slot[offsetof(FirmwareSlot, Image) + i] = static_cast<unsigned char>(seed >> 16);
    }
    char checksum[5];
    upgrade::FormatChecksumText(upgrade::ImageChecksum(Slot.data() + offsetof(FirmwareSlot, Image), ImageSize),
                                checksum);
    std::memcpy(Slot.data() + offsetof(FirmwareSlot, ChecksumText), checksum, 5);
}

std::vector<unsigned char> CliBench::Image() const {
    const unsigned char* image = Slot.data() + offsetof(FirmwareSlot, Image);
    return std::vector<unsigned char>(image, image + ImageSize);
}

void CliBench::SetImage(unsigned char fill, unsigned char first, const char* checksumText) {
    std::memset(Slot.data() + offsetof(FirmwareSlot, Image), fill, ImageSize);
    Slot[offsetof(FirmwareSlot, Image)] = first;
    std::memset(Slot.data() + offsetof(FirmwareSlot, ChecksumText), 0, FirmwareSlot::ChecksumTextSize);
    std::memcpy(Slot.data() + offsetof(FirmwareSlot, ChecksumText), checksumText, std::strlen(checksumText));
}

void CliBench::LeaveSlotUnfilled() {
    std::memcpy(Slot.data(), FirmwareSlot::Placeholder, FirmwareSlot::PlaceholderLength);
}

void CliBench::SpoilChecksum() {
    Slot[offsetof(FirmwareSlot, Image) + 77] ^= 0x01;
}

int CliBench::Run(const std::string& arguments) {
    std::vector<std::string> words;
    std::istringstream split(arguments);
    for (std::string word; split >> word;) words.push_back(word);
    SgIoTransport transport(Machine.Machine);
    Signals.Reset();
    FlashUpgradeProgram program({transport, Terminal, Files, FileSystem, Sleep, Buffers, Signals, Slot.data()});
    return program.Run(words);
}

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c == '\r') {
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

std::vector<std::string> CliBench::OutLines() const {
    return Lines(Terminal.Out);
}

std::vector<std::string> CliBench::ErrLines() const {
    return Lines(Terminal.Err);
}

std::vector<unsigned> CliBench::FirmwareCommands(const emulator::EmulatedDrive& drive) {
    std::vector<unsigned> commands;
    for (unsigned code : LinuxMachineBench::Commands(drive)) {
        if (code != 0x1200u && code != 0x3C01u) commands.push_back(code);
    }
    return commands;
}

size_t CliBench::WritesAndCommits(const emulator::EmulatedDrive& drive) {
    size_t writes = 0;
    for (unsigned code : LinuxMachineBench::Commands(drive)) {
        if (code == 0x3B07u || code == 0x3B04u) ++writes;
    }
    return writes;
}
