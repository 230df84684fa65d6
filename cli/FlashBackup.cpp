#include "cli/FlashBackup.h"

FlashBackup::FlashBackup(FirmwareOperations& operations, FileSystemApi& files)
    : operations_(operations), files_(files) {}

OperationOutcome FlashBackup::Keep(DriveTransport& transport, const DeviceRecord& drive, const std::string& path,
                                   OperationSink& sink) {
    return KeepWith(path, [&] { return operations_.Read(transport, drive, *this, sink); });
}

OperationOutcome FlashBackup::KeepAndCompare(DriveTransport& transport, const DeviceRecord& drive,
                                             const std::string& path, OperationSink& sink) {
    return KeepWith(path, [&] { return operations_.Verify(transport, drive, sink, this); });
}

template <typename Read>
OperationOutcome FlashBackup::KeepWith(const std::string& path, Read read) {
    path_ = path;
    replaced_ = false;
    error_ = files_.CreateTemporary(path, temporary_, &fd_);
    if (error_ != 0) {
        fd_ = -1;
        OperationOutcome outcome;
        outcome.Result = OperationOutcome::Kind::FileOpenFailed;
        return outcome;
    }
    const OperationOutcome outcome = read();
    if (!outcome.Succeeded()) {
        CloseTemporary();
        files_.Remove(temporary_.c_str());
    }
    return outcome;
}

int FlashBackup::CloseTemporary() {
    if (fd_ < 0) return 0;
    const int fd = fd_;
    fd_ = -1;
    return files_.Close(fd);
}

bool FlashBackup::Receive(const uint8_t* flash, uint32_t size) {
    error_ = files_.WriteAll(fd_, flash, size);
    if (error_ == 0) error_ = files_.Sync(fd_);
    // A close that fails may have lost the data.
    const int closed = CloseTemporary();
    if (error_ == 0) error_ = closed;
    if (error_ == 0) error_ = files_.Rename(temporary_.c_str(), path_.c_str());
    replaced_ = error_ == 0;
    // Only a flushed folder keeps the new name after a power cut; until then the upgrade waits.
    if (error_ == 0) error_ = files_.SyncFolderOf(path_.c_str());
    return error_ == 0;
}
