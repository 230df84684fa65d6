#pragma once

#include <cstdint>
#include <string>

#include "cli/FileSystemApi.h"
#include "transport/DeviceRecord.h"
#include "transport/DriveTransport.h"
#include "upgrade/FirmwareOperations.h"
#include "upgrade/OperationOutcome.h"
#include "upgrade/OperationSink.h"

// The drive's whole flash kept in a file, for the back-up before an upgrade and for save: read
// with the Save loop (its chunks and retries) into a file that is either complete and on disk or
// not there at all. The dump goes to a temporary file beside FILE, is flushed and then renamed
// over FILE; a failure before the rename removes the temporary file and leaves FILE as it was.
class FlashBackup final : private FirmwareOperations::FlashReceiver {
public:
    FlashBackup(FirmwareOperations& operations, FileSystemApi& files);

    // Reads DRIVE through TRANSPORT into PATH: Done when PATH holds the flash. A file that could
    // not be made or kept ends FileOpenFailed or FileWriteFailed, with FileError() saying why.
    OperationOutcome Keep(DriveTransport& transport, const DeviceRecord& drive, const std::string& path,
                          OperationSink& sink);
    // The same, and compares the flash with the image as Verify does (DifferingChunks): the reads
    // before an upgrade.
    OperationOutcome KeepAndCompare(DriveTransport& transport, const DeviceRecord& drive, const std::string& path,
                                    OperationSink& sink);
    // The errno of the file step that failed; 0 when none did.
    int FileError() const { return error_; }
    // Whether FILE holds the flash: only the flush of its folder may have failed after that.
    bool Replaced() const { return replaced_; }

private:
    // Makes the temporary file and runs READ into it; removes the file again when READ fails.
    template <typename Read>
    OperationOutcome KeepWith(const std::string& path, Read read);
    // Writes the flash into the temporary file and puts it in the back-up's place.
    bool Receive(const uint8_t* flash, uint32_t size) override;
    // Closes the temporary file once; the errno of the close, or 0.
    int CloseTemporary();

    FirmwareOperations& operations_;
    FileSystemApi& files_;
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    int error_ = 0;
    bool replaced_ = false;
};
