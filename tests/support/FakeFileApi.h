#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "upgrade/FileApi.h"

// Files in memory, with the platform's rules (create when missing, no truncation on open, no
// sharing) and failures to inject. Counts opens and closes so a test can tell that every opened
// file was closed.
class FakeFileApi final : public FileApi {
public:
    std::map<std::string, std::vector<uint8_t>> Files;

    bool FailOpen = false;        // the open fails (and creates nothing)
    bool FailLength = false;
    bool FailTruncate = false;
    bool FailWrite = false;       // the write fails having written nothing
    long DiskRoom = -1;           // >= 0: a write stops after this many bytes of file (disk full)

    int Opens = 0;
    int Closes = 0;
    int Truncates = 0;
    int Writes = 0;

    bool IsOpen(const std::string& path) const { return open_.count(path) != 0; }
    int OpenCount() const { return static_cast<int>(open_.size()); }

    Handle OpenForWriting(const char* path) override;
    int GetLength(Handle file, uint64_t* length) override;
    int Truncate(Handle file) override;
    int WriteFromStart(Handle file, const uint8_t* bytes, uint32_t length) override;
    void Close(Handle file) override;

private:
    std::vector<uint8_t>* FileOf(Handle file);

    std::vector<std::string> handles_;   // handle = index + 1
    std::set<std::string> open_;
};
