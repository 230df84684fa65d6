#include "emulator/drive/ConfiguredDrive.h"

#include <stdio.h>

namespace emulator {

namespace {

bool FileExists(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    fclose(f);
    return true;
}

}  // namespace

std::unique_ptr<EmulatedDriveFile> ConfiguredDrive::Start(const DriveSettings& settings, std::string& problem) {
    std::unique_ptr<EmulatedDriveFile> file(new EmulatedDriveFile(settings.Config));
    if (!BindFlash(*file, settings, problem)) return nullptr;
    if (!settings.MediumPath.empty() && !file->OpenMedium(settings.MediumPath, problem)) {
        // Checked when the configuration was read, so it changed since.
        problem = settings.MediumPath + ": " + problem;
        return nullptr;
    }
    SetFaults(file->Drive(), settings);
    return file;
}

bool ConfiguredDrive::BindFlash(EmulatedDriveFile& file, const DriveSettings& settings, std::string& problem) {
    if (settings.FlashPath.empty()) return true;
    // An existing image is the drive's flash as an earlier run left it; never replace it.
    const bool exists = FileExists(settings.FlashPath);
    if (exists ? file.Open(settings.FlashPath) : file.Create(settings.FlashPath)) return true;
    problem = settings.FlashPath + (exists ? ": cannot be read or does not hold " : ": cannot be created, ") +
              std::to_string(settings.Config.flashSize) + " bytes";
    return false;
}

void ConfiguredDrive::SetFaults(EmulatedDrive& drive, const DriveSettings& settings) {
    for (const EmulatedDrive::FaultRule& rule : settings.Faults) drive.AddFault(rule);
    drive.FailCommandNumber(settings.FailCommandNumber);
    drive.SetIdentityCheckWithData(settings.IdentityCheckWithData);
    drive.SetGone(settings.Gone);
    drive.SetAttention(settings.Attention.kind, settings.Attention.nth);
    drive.SetAttentionAfterCommit(settings.AttentionAfterCommit);
    drive.SetNotReadyAfterCommit(settings.NotReadyAfterCommit);
    drive.SetLatencyMicroseconds(settings.LatencyMilliseconds * 1000u);
}

}  // namespace emulator
