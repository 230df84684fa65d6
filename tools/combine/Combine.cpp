#include "Combine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ExecutableImage.h"
#include "FileAccess.h"
#include "SlotLocator.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"

using upgrade::FirmwareSlot;

namespace {

constexpr std::size_t MessageSize = 1024;

// mingw's printf family follows the GNU conventions; clang knows only the plain printf archetype.
#if defined(__MINGW32__) && !defined(__clang__)
#define COMBINE_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#else
#define COMBINE_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#endif

COMBINE_PRINTF_FORMAT std::string Format(const char* format, ...) {
    char text[MessageSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

Combine::Filled Combine::FillSlot(std::vector<unsigned char>& program, const std::vector<unsigned char>& image,
                                  const std::string& version, const std::string& programName) {
    Filled filled{false, "", 0};
    const char* name = programName.c_str();
    if (image.size() != FirmwareSlot::ImageSize) {
        filled.reason = Format("image is %llu bytes; it must be %llu", static_cast<unsigned long long>(image.size()),
                               static_cast<unsigned long long>(FirmwareSlot::ImageSize));
        return filled;
    }
    if (version.empty() || version.size() > FirmwareSlot::VersionTextSize - 1) {
        filled.reason = Format("version \"%s\" must be 1 to 4 characters", version.c_str());
        return filled;
    }

    const SlotLocator::Match match = SlotLocator::Find(program.data(), program.size());
    if (match.count == 0) {
        filled.reason = Format("no firmware slot in %s", name);
        return filled;
    }
    if (match.count > 1) {
        filled.reason =
            Format("%llu firmware slots in %s; it must have one", static_cast<unsigned long long>(match.count), name);
        return filled;
    }
    switch (ExecutableImage::Check(program.data(), program.size(), match.offset,
                                   SlotLocator::Size + FirmwareSlot::Size)) {
    case ExecutableImage::Coverage::FileBacked:
        break;
    case ExecutableImage::Coverage::NotFileBacked:
        filled.reason = Format("firmware slot in %s is not inside file-backed section data", name);
        return filled;
    case ExecutableImage::Coverage::UnknownFormat:
        filled.reason = Format("%s is neither an ELF nor a PE program", name);
        return filled;
    case ExecutableImage::Coverage::Malformed:
        filled.reason = Format("%s has malformed ELF or PE headers", name);
        return filled;
    }

    unsigned char* slot = program.data() + match.offset + SlotLocator::Size;
    if (upgrade::SlotIsFilled(slot)) {
        filled.reason = Format("firmware slot in %s is already filled", name);
        return filled;
    }

    filled.checksum = upgrade::ImageChecksum(image.data(), image.size());
    char checksumText[FirmwareSlot::ChecksumTextSize];
    upgrade::FormatChecksumText(filled.checksum, checksumText);
    std::memset(slot, 0, FirmwareSlot::HeadSize);
    std::memcpy(slot + offsetof(FirmwareSlot, VersionText), version.data(), version.size());
    std::memcpy(slot + offsetof(FirmwareSlot, ChecksumText), checksumText, sizeof checksumText);
    std::memcpy(slot + offsetof(FirmwareSlot, Image), image.data(), image.size());
    filled.ok = true;
    return filled;
}

Combine::Result Combine::Run(const Request& request, CombineFileApi& files) {
    using Status = FileAccess::Read::Status;
    const FileAccess access(files);
    const char* imageName = request.image.c_str();
    const char* programName = request.program.c_str();
    const char* outputName = request.output.c_str();
    if (access.SameFile(request.program, request.output))
        return {false, Format("output %s is PROGRAM itself; write to another file", outputName)};

    std::vector<unsigned char> image;
    const FileAccess::Read imageRead = access.ReadWhole(request.image, FirmwareSlot::ImageSize, image);
    if (imageRead.status == Status::Failed)
        return {false, Format("cannot read %s: %s", imageName, imageRead.error.c_str())};
    if (imageRead.status == Status::TooLarge || image.size() != FirmwareSlot::ImageSize)
        return {false, Format("image %s is %llu bytes; it must be %llu", imageName,
                              static_cast<unsigned long long>(imageRead.size),
                              static_cast<unsigned long long>(FirmwareSlot::ImageSize))};

    std::vector<unsigned char> program;
    const FileAccess::Read programRead = access.ReadWhole(request.program, MaxProgramSize, program);
    if (programRead.status == Status::Failed)
        return {false, Format("cannot read %s: %s", programName, programRead.error.c_str())};
    if (programRead.status == Status::TooLarge)
        return {false, Format("%s is larger than %llu MiB", programName,
                              static_cast<unsigned long long>(MaxProgramSize >> 20))};

    const Filled filled = FillSlot(program, image, request.version, request.program);
    if (!filled.ok) return {false, filled.reason};

    const std::string error = access.WriteReplacing(request.output, program, programRead.mode);
    if (!error.empty()) return {false, Format("cannot write %s: %s", outputName, error.c_str())};

    char checksumText[FirmwareSlot::ChecksumTextSize];
    upgrade::FormatChecksumText(filled.checksum, checksumText);
    return {true, Format("wrote %s (version %s, checksum %s)", outputName, request.version.c_str(), checksumText)};
}
