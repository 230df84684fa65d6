#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/drive/EmulatedDriveFile.h"
#include "emulator/iscsi/EventLog.h"
#include "emulator/iscsi/TargetConfig.h"

namespace emulator {

class IscsiConnection;

// Everything the connections of one iscsi-target share: the targets with their drives, the
// event log, and the list of live connections, through which task management and session
// reinstatement reach other sessions. Single-threaded: the connections run one at a time.
class IscsiTargetSet {
public:
    struct Target {
        std::string Name;
        std::unique_ptr<EmulatedDriveFile> Drive;
        std::string LogPath;
        // hold= and drop= of the drive, counted over every connection since the start.
        EmulatedDrive::CommandPick Hold;
        uint32_t HoldSeconds = 0;   // the held command is carried out and answered after these; 0: never
        EmulatedDrive::CommandPick Drop;
        uint32_t DropSeconds = 0;
        // Since a drop: logins are refused until Now() reaches this.
        bool Refusing = false;
        uint64_t RefuseUntil = 0;
    };

    IscsiTargetSet() = default;
    IscsiTargetSet(const IscsiTargetSet&) = delete;
    IscsiTargetSet& operator=(const IscsiTargetSet&) = delete;

    // A drive of the configuration: its flash file loaded when it exists (it must hold the
    // drive's flash size), else created erased; its faults set; its log emptied. False with
    // PROBLEM.
    bool Add(const TargetConfig::Drive& drive, std::string& problem);
    // A drive in memory only, for tests.
    Target& AddInMemory(const std::string& name, const DriveConfig& config);

    Target* Find(const std::string& name);
    const std::vector<std::unique_ptr<Target>>& Targets() const { return targets_; }
    EventLog& Log() { return log_; }

    // The server's monotonic clock in milliseconds, set by it before it hands the connections
    // their bytes; tests set it themselves.
    uint64_t Now() const { return now_; }
    void SetNow(uint64_t milliseconds) { now_ = milliseconds; }
    // A drop of TARGET's link: logins to it are refused for its DropSeconds from Now().
    void RefuseLogins(Target& target);
    bool RefusesLogins(const Target& target) const;

    uint16_t NewTsih();
    void Attach(IscsiConnection* connection);
    void Detach(IscsiConnection* connection);
    const std::vector<IscsiConnection*>& Connections() const { return connections_; }

    // At the end: every flash file saved. False when one could not be, or a log line could not be
    // written.
    bool SaveAll();

private:
    std::vector<std::unique_ptr<Target>> targets_;
    std::vector<IscsiConnection*> connections_;
    EventLog log_;
    uint16_t lastTsih_ = 0;
    uint64_t now_ = 0;
};

}  // namespace emulator
