#include "cli/FlashBackup.h"

#include <cstdio>
#include <cstring>

#include "transport/ActiveTransport.h"

FlashBackup::FlashBackup(UpgradeOperations& operations, TerminalView& view, FileSystemApi& files,
                         WorkBufferAllocator& buffers)
    : operations_(operations), view_(view), files_(files), buffers_(buffers) {}

void FlashBackup::ReportFileError(const std::string& path, int error) {
    view_.Line(TerminalApi::Stream::Error, "flashupgrade: " + path + ": " + std::strerror(error));
}

bool FlashBackup::Keep(const DeviceRecord& record, const std::string& path) {
    view_.ShowStatus("Save Firmware...");
    std::string temporary;
    int fd = -1;
    const int created = files_.CreateTemporary(path, temporary, &fd);
    if (created != 0) {
        view_.ShowStatus(("Cant open the file " + path).c_str());
        ReportFileError(path, created);
        return false;
    }

    bool kept = false;
    if (!ActiveTransport->OpenDevice(record)) {
        char text[160];
        std::snprintf(text, sizeof text, "Open Device (%u %u)%s%s Failed!!", unsigned{record.PathId},
                      unsigned{record.TargetId}, record.Vendor, record.Product);
        view_.ShowStatus(text);
        files_.Close(fd);
    } else {
        const uint32_t size = ActiveTransport->CurrentDevice.FlashSize;
        operations_.ImageBuffer = buffers_.Obtain(size);
        if (operations_.ImageBuffer == nullptr) {
            ActiveTransport->CloseDevice();
            view_.ShowStatus("Memory (Write) Initialization Failed!!");
            files_.Close(fd);
        } else {
            std::memset(operations_.ImageBuffer, 0, size);
            const bool dumped = operations_.DumpFlash();
            ActiveTransport->CloseDevice();
            if (dumped) {
                const int stored = Store(fd, temporary, path, size);
                if (stored == 0) {
                    kept = true;
                } else {
                    view_.ShowStatus(("Write File " + path + " Failed!!").c_str());
                    ReportFileError(path, stored);
                }
            } else {
                files_.Close(fd);
            }
            buffers_.Release(operations_.ImageBuffer);
            operations_.ImageBuffer = nullptr;
        }
    }
    if (!kept) {
        files_.Remove(temporary.c_str());
        return false;
    }
    view_.Line(TerminalApi::Stream::Out, "Back-up of the flash kept in " + path);
    return true;
}

int FlashBackup::Store(int fd, const std::string& temporary, const std::string& path, uint32_t size) {
    int error = files_.WriteAll(fd, operations_.ImageBuffer, size);
    if (error == 0) error = files_.Sync(fd);
    // Closed exactly once on every path; a close that fails may have lost the data.
    const int closed = files_.Close(fd);
    if (error == 0) error = closed;
    if (error == 0) error = files_.Rename(temporary.c_str(), path.c_str());
    if (error != 0) return error;
    // Only a flushed folder keeps the new name after a power cut; until then the upgrade waits.
    return files_.SyncFolderOf(path.c_str());
}
