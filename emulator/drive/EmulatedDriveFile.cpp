#include "emulator/drive/EmulatedDriveFile.h"

#include "emulator/drive/DriveLogText.h"
#include "emulator/drive/WholeFile.h"

#include <errno.h>
#include <stdio.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace emulator {

namespace {

void Wait(uint32_t us) {
    if (us == 0) {
        return;
    }
#ifdef _WIN32
    Sleep((us + 999) / 1000);  // Sleep counts milliseconds; never shorten the latency to 0
#else
    timespec ts;
    ts.tv_sec = static_cast<time_t>(us / 1000000u);
    ts.tv_nsec = static_cast<long>(us % 1000000u) * 1000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
#endif
}

}  // namespace

EmulatedDriveFile::EmulatedDriveFile(const DriveConfig& config)
    : flash_(config.flashSize, 0xFF), staging_(config.flashSize, 0xFF) {
    drive_.Configure(config);
    drive_.Attach(flash_.data(), staging_.data());
    drive_.SetImageKeeper(&EmulatedDriveFile::KeepCommitted, this);
}

bool EmulatedDriveFile::Open(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    std::vector<uint8_t> image(flash_.size());
    const size_t got = image.empty() ? 0 : fread(image.data(), 1, image.size(), f);
    // One byte more must not be there: a larger file is another drive's image.
    unsigned char extra;
    const bool tooLong = fread(&extra, 1, 1, f) != 0;
    const bool readError = ferror(f) != 0;
    fclose(f);
    if (got != image.size() || tooLong || readError) {
        return false;
    }
    flash_.swap(image);
    drive_.Attach(flash_.data(), staging_.data());
    path_ = path;
    saveFailed_ = false;
    return true;
}

bool EmulatedDriveFile::Create(const std::string& path) {
    path_ = path;
    return Save();
}

bool EmulatedDriveFile::OpenMedium(const std::string& path, std::string& problem) {
    const bool opened = medium_.Open(path, problem);
    drive_.SetMedium(medium_.AsMedium());  // without a disc when the image was refused
    return opened;
}

bool EmulatedDriveFile::Fill(uint8_t value) {
    for (uint8_t& b : flash_) {
        b = value;
    }
    return AfterFlashChange();
}

bool EmulatedDriveFile::FillPattern(const uint8_t* pattern, size_t length) {
    if (pattern == nullptr || length == 0) {
        return Fill(0xFF);
    }
    for (size_t i = 0; i < flash_.size(); ++i) {
        flash_[i] = pattern[i % length];
    }
    return AfterFlashChange();
}

bool EmulatedDriveFile::SetFlash(const std::vector<uint8_t>& image) {
    if (image.size() != flash_.size()) {
        return false;
    }
    flash_ = image;
    // The assignment keeps the vector's buffer, but attach again rather than rely on that.
    drive_.Attach(flash_.data(), staging_.data());
    return AfterFlashChange();
}

bool EmulatedDriveFile::AfterFlashChange() {
    drive_.ResetStaging();
    return path_.empty() ? true : Save();
}

bool EmulatedDriveFile::Save() {
    return Store(flash_.data());
}

bool EmulatedDriveFile::Store(const uint8_t* image) {
    saveFailed_ = path_.empty() || !WholeFile::Write(path_, image, flash_.size());
    return !saveFailed_;
}

bool EmulatedDriveFile::KeepCommitted(void* self, const uint8_t* image, uint32_t) {
    EmulatedDriveFile& file = *static_cast<EmulatedDriveFile*>(self);
    // A drive without a file keeps its flash in memory only.
    return file.path_.empty() || file.Store(image);
}

EmulatedDrive::Result EmulatedDriveFile::Execute(const EmulatedDrive::Request& request) {
    const EmulatedDrive::Result result = ExecuteAtOnce(request);
    Wait(drive_.LatencyMicroseconds());
    return result;
}

EmulatedDrive::Result EmulatedDriveFile::ExecuteAtOnce(const EmulatedDrive::Request& request) {
    const EmulatedDrive::Result result = drive_.Execute(request);
    LogLastCommand();
    return result;
}

bool EmulatedDriveFile::OpenLog(const std::string& path) {
    logFailed_ = !log_.Open(path);
    return !logFailed_;
}

void EmulatedDriveFile::LogLastCommand() {
    if (!log_.IsOpen()) {
        return;
    }
    char line[DriveLogText::LineRoom + 1];
    size_t length = DriveLogText::FormatEntry(drive_.LastCommand(), line, DriveLogText::LineRoom);
    line[length++] = '\n';
    // Written through at once: a caller that has seen the answer may be ended the next moment.
    if (!log_.Add(line, length)) {
        logFailed_ = true;
    }
}

std::string EmulatedDriveFile::FormatLogEntry(const EmulatedDrive::LogEntry& entry) {
    char line[DriveLogText::LineRoom];
    DriveLogText::FormatEntry(entry, line, sizeof line);
    return line;
}

bool EmulatedDriveFile::WriteLog(const std::string& path) const {
    // Binary, so that the log reads the same byte for byte from a Windows and a Linux build.
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = true;
    for (uint32_t i = 0; i < drive_.LogSize() && ok; ++i) {
        ok = fprintf(f, "%s\n", FormatLogEntry(*drive_.LogAt(i)).c_str()) > 0;
    }
    char overflow[DriveLogText::LineRoom];
    if (ok && DriveLogText::FormatOverflow(drive_, overflow, sizeof overflow) != 0) {
        ok = fprintf(f, "%s\n", overflow) > 0;
    }
    return (fclose(f) == 0) && ok;
}

}  // namespace emulator
