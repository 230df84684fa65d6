#include "upgrade/OperationTexts.h"

#include <cstdarg>
#include <cstdio>

#include "upgrade/FirmwareChecksum.h"

namespace {

// Long enough for every text, a full path included.
constexpr size_t TextRoom = 1024;

std::string Formatted(const char* format, ...) {
    char text[TextRoom];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string ChecksumMismatch(const OperationOutcome& outcome) {
    char text[upgrade::ChecksumMismatchTextSize];
    upgrade::FormatChecksumMismatch(text, sizeof text, outcome.ComputedChecksum, outcome.ExpectedChecksum);
    return text;
}

}  // namespace

const char* OperationTexts::UpgradeStarts() { return "Upgrade Firmware..."; }

const char* OperationTexts::SaveStarts() { return "Save Firmware..."; }

const char* OperationTexts::SlotUnfilled() { return "Need Combine firmware first !!"; }

std::string OperationTexts::OverwriteQuestion(const std::string& path) {
    return Formatted("File %s Exist, Overwrite ?", path.c_str());
}

std::string OperationTexts::Status(const OperationOutcome& outcome, const DeviceRecord& drive,
                                   const std::string& path) {
    using Kind = OperationOutcome::Kind;
    switch (outcome.Result) {
    // Save shows the same success text as Upgrade.
    case Kind::Done: return "Upgrade Firmware Successful!!";
    case Kind::SlotUnfilled: return SlotUnfilled();
    case Kind::OpenFailed:
        return Formatted("Open Device (%u %u)%s%s Failed!!", unsigned{drive.PathId}, unsigned{drive.TargetId},
                         drive.Vendor, drive.Product);
    case Kind::FlashSizeMismatch:
    case Kind::StoppedBeforeWriting:
    case Kind::Stopped: return std::string();
    case Kind::NoImageBuffer: return "Memory (Write) Initialization Failed!!";
    case Kind::NoReadBackBuffer: return "Memory (Read) Initialization Failed!!";
    case Kind::ChecksumMismatch: return ChecksumMismatch(outcome);
    case Kind::ChunkFailed:
        return Formatted("Error Happen in ID %x OFFSET 0x%04X", unsigned{(outcome.FlashOffset >> 16) & 0xFF},
                         unsigned{outcome.FlashOffset & 0xFFFF});
    case Kind::FileOpenFailed: return Formatted("Cant open the file %s", path.c_str());
    case Kind::OverwriteDeclined: return Formatted("File %s Exist, User cancel ...", path.c_str());
    case Kind::FileWriteFailed: return Formatted("Write File %s Failed!!", path.c_str());
    }
    return std::string();
}
