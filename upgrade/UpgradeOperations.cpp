#include "upgrade/UpgradeOperations.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "transport/ActiveTransport.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"

using upgrade::FirmwareSlot;

namespace {

// Long enough for every status text, a full path included.
constexpr size_t StatusTextRoom = 1024;

uint32_t ChunkAt(uint32_t offset, uint32_t flashSize) {
    // A flash size that is not a multiple of the chunk length ends in a short chunk, so no transfer
    // or compare reaches past the flash-size buffers.
    const uint32_t left = flashSize - offset;
    return left < UpgradeOperations::ChunkLength ? left : UpgradeOperations::ChunkLength;
}

}  // namespace

UpgradeOperations::UpgradeOperations(UpgradeView& view, const Platform& platform)
    : view_(view), platform_(platform) {}

void UpgradeOperations::ShowStatusFormatted(const char* format, ...) {
    char text[StatusTextRoom];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    view_.ShowStatus(text);
}

void UpgradeOperations::EnableAllButtons() {
    view_.EnableButton(UpgradeView::Button::Browse, true);
    view_.EnableButton(UpgradeView::Button::Upgrade, true);
    view_.EnableButton(UpgradeView::Button::Exit, true);
}

void UpgradeOperations::DisableAllButtons() {
    view_.EnableButton(UpgradeView::Button::Browse, false);
    view_.EnableButton(UpgradeView::Button::Upgrade, false);
    view_.EnableButton(UpgradeView::Button::Exit, false);
}

bool UpgradeOperations::TakeSelectedDevice() {
    // The drop-down has an edit field: with several drives the user can type into it and leave no
    // entry selected. Such a selection names no drive and nothing is touched.
    const int entry = view_.SelectedEntry();
    const DeviceRecord* record = entry < 0 ? nullptr : DeviceList.At(static_cast<size_t>(entry));
    if (record == nullptr) {
        view_.ShowStatus("No Device Selected!!");
        return false;
    }
    SelectedDevice = record;
    return true;
}

void UpgradeOperations::ShowOpenFailure() {
    ShowStatusFormatted("Open Device (%u %u)%s%s Failed!!", unsigned(SelectedDevice->PathId),
                        unsigned(SelectedDevice->TargetId), SelectedDevice->Vendor, SelectedDevice->Product);
}

void UpgradeOperations::ShowChunkFailure(uint32_t offset) {
    ShowStatusFormatted("Error Happen in ID %x OFFSET 0x%04X", unsigned((offset >> 16) & 0xFF),
                        unsigned(offset & 0xFFFF));
}

void UpgradeOperations::SetProgressFromOffset(uint32_t offset, uint32_t flashSize, bool holdBackFull) {
    // Integer division on purpose: the bar stays at 0 until the last chunk is through.
    ProgressPercent = static_cast<int>((offset / flashSize) * 100);
    // An upgrade is not done before its commit: the last verified chunk shows 75.
    if (holdBackFull && ProgressPercent == 100) ProgressPercent = 75;
    view_.ShowProgress(ProgressPercent);
}

void UpgradeOperations::ReleaseBuffers() {
    if (ReadBackBuffer != nullptr) platform_.Buffers.Release(ReadBackBuffer);
    if (ImageBuffer != nullptr) platform_.Buffers.Release(ImageBuffer);
    ReadBackBuffer = nullptr;
    ImageBuffer = nullptr;
}

bool UpgradeOperations::ProgramFlash() {
    const uint32_t flashSize = ActiveTransport->CurrentDevice.FlashSize;
    int failures = 0;
    uint32_t offset = 0;
    do {
        if (failures >= AttemptsPerChunk) {
            ShowChunkFailure(offset);
            return false;
        }
        const uint32_t length = ChunkAt(offset, flashSize);
        const uint8_t bufferId = static_cast<uint8_t>(offset >> 16);
        const uint16_t bufferOffset = static_cast<uint16_t>(offset);
        const uint16_t chunkLength = static_cast<uint16_t>(length);
        if (!ActiveTransport->WriteFirmwareChunk(ImageBuffer + offset, bufferId, bufferOffset, chunkLength) ||
            !ActiveTransport->ReadBackChunk(ReadBackBuffer + offset, bufferId, bufferOffset, chunkLength) ||
            std::memcmp(ImageBuffer + offset, ReadBackBuffer + offset, length) != 0) {
            // Write, read-back and compare failures are all one failed attempt on this chunk.
            ++failures;
            continue;
        }
        failures = 0;
        offset += length;
        SetProgressFromOffset(offset, flashSize, true);
    } while (offset < flashSize);

    // Not examined: the chunks went with the save mode and the restart activates them.
    ActiveTransport->CommitFirmware();
    platform_.Sleep.Pause(CommitPauseMs);
    view_.ShowProgress(100);
    return true;
}

bool UpgradeOperations::DumpFlash() {
    const uint32_t flashSize = ActiveTransport->CurrentDevice.FlashSize;
    int failures = 0;
    uint32_t offset = 0;
    while (offset < flashSize) {
        if (failures >= AttemptsPerChunk) {
            ShowChunkFailure(offset);
            return false;
        }
        const uint32_t length = ChunkAt(offset, flashSize);
        if (!ActiveTransport->DumpFirmwareChunk(ImageBuffer + offset, static_cast<uint8_t>(offset >> 16),
                                                static_cast<uint16_t>(offset), static_cast<uint16_t>(length))) {
            ++failures;
            continue;
        }
        failures = 0;
        offset += length;
        SetProgressFromOffset(offset, flashSize, false);
    }
    return true;
}

void UpgradeOperations::OnUpgrade() {
    view_.ShowStatus("Upgrade Firmware...");

    // An unfilled slot holds no image: its placeholder would even pass the checksum test (no hex
    // digits reads as 0 and a zero image sums to 0) and be written to the drive. Save and the file
    // choice enable the button again, so the operation refuses it itself.
    if (!upgrade::SlotIsFilled(platform_.Slot)) {
        view_.ShowStatus("Need Combine firmware first !!");
        view_.EnableButton(UpgradeView::Button::Upgrade, false);
        view_.EnableButton(UpgradeView::Button::Browse, true);
        view_.EnableButton(UpgradeView::Button::Exit, true);
        return;
    }
    if (!TakeSelectedDevice()) return;

    DisableAllButtons();
    if (!ActiveTransport->OpenDevice(*SelectedDevice)) {
        ShowOpenFailure();
        EnableAllButtons();
        return;
    }
    const uint32_t flashSize = ActiveTransport->CurrentDevice.FlashSize;
    if (flashSize != UpgradeFlashSize) {
        // The image fits only a 128 KiB flash; the status line keeps "Upgrade Firmware...".
        ActiveTransport->CloseDevice();
        EnableAllButtons();
        return;
    }
    ImageBuffer = platform_.Buffers.Obtain(flashSize);
    if (ImageBuffer == nullptr) {
        ActiveTransport->CloseDevice();
        view_.ShowStatus("Memory (Write) Initialization Failed!!");
        EnableAllButtons();
        return;
    }
    std::memset(ImageBuffer, 0, flashSize);
    ReadBackBuffer = platform_.Buffers.Obtain(flashSize);
    if (ReadBackBuffer == nullptr) {
        ReleaseBuffers();
        ActiveTransport->CloseDevice();
        view_.ShowStatus("Memory (Read) Initialization Failed!!");
        EnableAllButtons();
        return;
    }
    std::memset(ReadBackBuffer, 0, flashSize);
    view_.EnableButton(UpgradeView::Button::Upgrade, true);

    std::memcpy(ImageBuffer, platform_.Slot + offsetof(FirmwareSlot, Image), flashSize);
    const uint16_t expected =
        upgrade::ExpectedChecksum(reinterpret_cast<const char*>(platform_.Slot) + offsetof(FirmwareSlot, ChecksumText));
    const uint16_t computed = upgrade::ImageChecksum(ImageBuffer, flashSize);
    if (computed != expected) {
        ActiveTransport->CloseDevice();
        ReleaseBuffers();
        char text[upgrade::ChecksumMismatchTextSize];
        upgrade::FormatChecksumMismatch(text, sizeof text, computed, expected);
        view_.ShowStatus(text);
        view_.EnableButton(UpgradeView::Button::Exit, true);
        return;
    }

    const bool programmed = ProgramFlash();
    ActiveTransport->CloseDevice();
    ReleaseBuffers();
    if (programmed) {
        UpgradeSucceeded = 1;
        view_.ShowStatus("Upgrade Firmware Successful!!");
        view_.EnableButton(UpgradeView::Button::Exit, true);
    } else {
        EnableAllButtons();
    }
}

void UpgradeOperations::OnSave() {
    view_.ShowStatus("Save Firmware...");
    if (!TakeSelectedDevice()) return;
    DisableAllButtons();

    const char* path = FirmwarePath.c_str();
    FileApi& files = platform_.Files;
    const FileApi::Handle file = files.OpenForWriting(path);
    if (file == FileApi::InvalidHandle) {
        ShowStatusFormatted("Cant open the file %s", path);
        EnableAllButtons();
        return;
    }
    uint64_t length = 0;
    // A length that cannot be read is taken as content: the user is asked rather than a file lost.
    const bool hasContent = !files.GetLength(file, &length) || length != 0;
    if (hasContent) {
        char question[StatusTextRoom];
        std::snprintf(question, sizeof question, "File %s Exist, Overwrite ?", path);
        if (view_.AskYesNo(question) == UpgradeView::AnswerNo) {
            ShowStatusFormatted("File %s Exist, User cancel ...", path);
            EnableAllButtons();
            files.Close(file);
            return;
        }
        // The old content is cut only once the dump has succeeded: a failed dump leaves it intact.
    }

    const uint32_t flashSize = SelectedDevice->FlashSize;
    ImageBuffer = platform_.Buffers.Obtain(flashSize);
    if (ImageBuffer == nullptr) {
        view_.ShowStatus("Memory (Write) Initialization Failed!!");
        EnableAllButtons();
        files.Close(file);
        return;
    }
    std::memset(ImageBuffer, 0, flashSize);
    if (!ActiveTransport->OpenDevice(*SelectedDevice)) {
        ReleaseBuffers();
        ShowOpenFailure();
        EnableAllButtons();
        files.Close(file);
        return;
    }

    if (DumpFlash()) {
        const uint32_t dumped = ActiveTransport->CurrentDevice.FlashSize;
        if ((hasContent && !files.Truncate(file)) || !files.WriteFromStart(file, ImageBuffer, dumped)) {
            ShowStatusFormatted("Write File %s Failed!!", path);
        } else {
            view_.ShowStatus("Upgrade Firmware Successful!!");
        }
    }
    ActiveTransport->CloseDevice();
    ReleaseBuffers();
    EnableAllButtons();
    files.Close(file);
}
