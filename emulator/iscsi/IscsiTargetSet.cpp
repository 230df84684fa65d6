#include "emulator/iscsi/IscsiTargetSet.h"

#include <algorithm>

#include "emulator/drive/ConfiguredDrive.h"

namespace emulator {

bool IscsiTargetSet::Add(const TargetConfig::Drive& drive, std::string& problem) {
    std::unique_ptr<Target> target(new Target);
    target->Name = drive.Iqn;
    target->LogPath = drive.LogPath;
    target->Drive = ConfiguredDrive::Start(drive, problem);
    if (target->Drive == nullptr) return false;
    target->Hold = drive.Hold;
    target->HoldSeconds = drive.HoldSeconds;
    target->Drop = drive.Drop;
    target->DropSeconds = drive.DropSeconds;
    // Emptied from the start, then a line added as each command runs.
    if (!target->LogPath.empty() && !target->Drive->OpenLog(target->LogPath)) {
        problem = target->LogPath + ": cannot be written";
        return false;
    }
    targets_.push_back(std::move(target));
    return true;
}

IscsiTargetSet::Target& IscsiTargetSet::AddInMemory(const std::string& name, const DriveConfig& config) {
    std::unique_ptr<Target> target(new Target);
    target->Name = name;
    target->Drive.reset(new EmulatedDriveFile(config));
    targets_.push_back(std::move(target));
    return *targets_.back();
}

IscsiTargetSet::Target* IscsiTargetSet::Find(const std::string& name) {
    // iSCSI names compare without regard to case; the configuration holds them in lower case.
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    for (const auto& target : targets_) {
        if (target->Name == lower) return target.get();
    }
    return nullptr;
}

void IscsiTargetSet::RefuseLogins(Target& target) {
    target.Refusing = true;
    target.RefuseUntil = now_ + static_cast<uint64_t>(target.DropSeconds) * 1000u;
}

bool IscsiTargetSet::RefusesLogins(const Target& target) const { return target.Refusing && now_ < target.RefuseUntil; }

uint16_t IscsiTargetSet::NewTsih() {
    // 0 is what an initiator sends for a new session; never hand it out.
    if (++lastTsih_ == 0) ++lastTsih_;
    return lastTsih_;
}

void IscsiTargetSet::Attach(IscsiConnection* connection) { connections_.push_back(connection); }

void IscsiTargetSet::Detach(IscsiConnection* connection) {
    connections_.erase(std::remove(connections_.begin(), connections_.end(), connection), connections_.end());
}

bool IscsiTargetSet::SaveAll() {
    bool ok = true;
    for (const auto& target : targets_) {
        if (!target->Drive->Path().empty() && !target->Drive->Save()) ok = false;
        if (!target->LogPath.empty() && target->Drive->LogFailed()) ok = false;
    }
    return ok;
}

}  // namespace emulator
