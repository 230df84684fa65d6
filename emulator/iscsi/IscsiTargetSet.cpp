#include "emulator/iscsi/IscsiTargetSet.h"

#include <stdio.h>

#include <algorithm>

namespace emulator {

namespace {

bool FileExists(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    fclose(f);
    return true;
}

}  // namespace

bool IscsiTargetSet::Add(const TargetConfig::Drive& drive, std::string& problem) {
    std::unique_ptr<Target> target(new Target);
    target->Name = drive.Iqn;
    target->LogPath = drive.LogPath;
    target->Drive.reset(new EmulatedDriveFile(drive.Config));
    if (!drive.FlashPath.empty()) {
        // An existing image is the drive's flash as an earlier run left it; never replace it.
        const bool exists = FileExists(drive.FlashPath);
        if (exists ? !target->Drive->Open(drive.FlashPath) : !target->Drive->Create(drive.FlashPath)) {
            problem = drive.FlashPath + (exists ? ": cannot be read or does not hold " : ": cannot be created, ") +
                      std::to_string(drive.Config.flashSize) + " bytes";
            return false;
        }
    }
    EmulatedDrive& d = target->Drive->Drive();
    for (const EmulatedDrive::FaultRule& rule : drive.Faults) d.AddFault(rule);
    d.FailCommandNumber(drive.FailCommandNumber);
    d.SetIdentityCheckWithData(drive.IdentityCheckWithData);
    d.SetGone(drive.Gone);
    d.SetLatencyMicroseconds(drive.LatencyMilliseconds * 1000u);
    d.SetAttention(drive.Attention.kind, drive.Attention.nth);
    d.SetAttentionAfterCommit(drive.AttentionAfterCommit);
    d.SetNotReadyAfterCommit(drive.NotReadyAfterCommit);
    target->Hold = drive.Hold;
    target->HoldSeconds = drive.HoldSeconds;
    target->Drop = drive.Drop;
    target->DropSeconds = drive.DropSeconds;
    // An empty log from the start: a stale one from an earlier run would mislead.
    if (!target->LogPath.empty() && !target->Drive->WriteLog(target->LogPath)) {
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

void IscsiTargetSet::CommandDone(Target& target) {
    if (!target.LogPath.empty()) target.Drive->WriteLog(target.LogPath);
}

bool IscsiTargetSet::SaveAll() {
    bool ok = true;
    for (const auto& target : targets_) {
        if (!target->Drive->Path().empty() && !target->Drive->Save()) ok = false;
        if (!target->LogPath.empty() && !target->Drive->WriteLog(target->LogPath)) ok = false;
    }
    return ok;
}

}  // namespace emulator
