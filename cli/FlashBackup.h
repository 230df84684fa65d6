#pragma once

#include <string>

#include "cli/FileSystemApi.h"
#include "cli/TerminalView.h"
#include "transport/DeviceRecord.h"
#include "upgrade/UpgradeOperations.h"
#include "upgrade/WorkBufferAllocator.h"

// The back-up before an upgrade: the drive's whole flash read with the Save loop (its chunks,
// retries and texts) into a file that is either complete and on disk or not there at all. The
// dump goes to a temporary file beside FILE, is flushed and then renamed over FILE; a failure
// anywhere removes the temporary file and leaves FILE as it was.
class FlashBackup {
public:
    FlashBackup(UpgradeOperations& operations, TerminalView& view, FileSystemApi& files,
                WorkBufferAllocator& buffers);

    // Reads RECORD's drive through ActiveTransport into PATH. True when PATH holds the flash.
    bool Keep(const DeviceRecord& record, const std::string& path);

private:
    // Writes the dump into the open temporary file and puts it in PATH's place; 0 or the errno.
    int Store(int fd, const std::string& temporary, const std::string& path, uint32_t size);
    void ReportFileError(const std::string& path, int error);

    UpgradeOperations& operations_;
    TerminalView& view_;
    FileSystemApi& files_;
    WorkBufferAllocator& buffers_;
};
