#include "upgrade/FirmwareOperations.h"

#include <cstddef>
#include <cstring>

#include "transport/ScopedHandle.h"
#include "upgrade/ChunkLoop.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/FirmwareSlot.h"
#include "upgrade/OpenedDrive.h"
#include "upgrade/WorkBuffer.h"

using upgrade::FirmwareSlot;
using Kind = OperationOutcome::Kind;

namespace {

constexpr uint32_t ImageSize = FirmwareSlot::ImageSize;
static_assert(ImageSize % ChunkLoop::ChunkLength == 0, "the image is whole chunks");

OperationOutcome Ended(Kind result) {
    OperationOutcome outcome;
    outcome.Result = result;
    return outcome;
}

OperationOutcome OpenFailed(const DriveTransport& transport) {
    OperationOutcome outcome = Ended(Kind::OpenFailed);
    outcome.Reason = transport.LastFailure();
    return outcome;
}

OperationOutcome FlashSizeMismatch(uint32_t flashSize) {
    OperationOutcome outcome = Ended(Kind::FlashSizeMismatch);
    outcome.FlashSize = flashSize;
    return outcome;
}

OperationOutcome Told(OperationSink& sink, const OperationOutcome& outcome) {
    sink.Finished(outcome);
    return outcome;
}

// Writes the flash into the open dump file, cutting what it held only now that there is
// something to put in its place.
class FileReceiver final : public FirmwareOperations::FlashReceiver {
public:
    FileReceiver(FileApi& files, FileApi::Handle file, bool hasContent)
        : files_(files), file_(file), hasContent_(hasContent) {}

    bool Receive(const uint8_t* flash, uint32_t size) override {
        if (hasContent_ && !files_.Truncate(file_)) return false;
        return files_.WriteFromStart(file_, flash, size) != 0;
    }

private:
    FileApi& files_;
    FileApi::Handle file_;
    bool hasContent_;
};

// Counts the image's chunks that the flash does not hold, then hands the flash on to NEXT, if any.
class ImageComparer final : public FirmwareOperations::FlashReceiver {
public:
    ImageComparer(const uint8_t* image, FirmwareOperations::FlashReceiver* next) : image_(image), next_(next) {}
    uint32_t Differing = 0;

    bool Receive(const uint8_t* flash, uint32_t size) override {
        // Verify reads only a flash of the image's size, which is whole chunks.
        for (uint32_t at = 0; at < size; at += ChunkLoop::ChunkLength) {
            if (std::memcmp(flash + at, image_ + at, ChunkLoop::ChunkLength) != 0) ++Differing;
        }
        return next_ == nullptr || next_->Receive(flash, size);
    }

private:
    const uint8_t* image_;
    FirmwareOperations::FlashReceiver* next_;
};

// How the dump file is closed when the operation's scope ends.
struct DumpFileTraits {
    using Handle = FileApi::Handle;
    static constexpr Handle Invalid = FileApi::InvalidHandle;
    FileApi* Files;
    void Close(Handle file) const { Files->Close(file); }
};

}  // namespace

FirmwareOperations::FirmwareOperations(const Platform& platform) : platform_(platform) {}

const uint8_t* FirmwareOperations::Image() const { return platform_.Slot + offsetof(FirmwareSlot, Image); }

uint16_t FirmwareOperations::ExpectedChecksum() const {
    return upgrade::ExpectedChecksum(reinterpret_cast<const char*>(platform_.Slot) +
                                     offsetof(FirmwareSlot, ChecksumText));
}

OperationOutcome FirmwareOperations::Upgrade(DriveTransport& transport, const DeviceRecord& drive, OperationSink& sink,
                                             bool stopBeforeWriting) {
    return Told(sink, UpgradeInScope(transport, drive, sink, stopBeforeWriting));
}

OperationOutcome FirmwareOperations::Save(DriveTransport& transport, const DeviceRecord& drive, const std::string& path,
                                          OverwriteQuestion& question, OperationSink& sink) {
    return Told(sink, SaveInScope(transport, drive, path, question, sink));
}

OperationOutcome FirmwareOperations::Read(DriveTransport& transport, const DeviceRecord& drive, FlashReceiver& receiver,
                                          OperationSink& sink) {
    return Told(sink, ReadInScope(transport, drive, receiver, sink));
}

OperationOutcome FirmwareOperations::Verify(DriveTransport& transport, const DeviceRecord& drive, OperationSink& sink,
                                            FlashReceiver* keeper) {
    return Told(sink, VerifyInScope(transport, drive, sink, keeper));
}

OperationOutcome FirmwareOperations::UpgradeInScope(DriveTransport& transport, const DeviceRecord& drive,
                                                    OperationSink& sink, bool stopBeforeWriting) {
    // An unfilled slot holds no image: its placeholder would even pass the checksum test (no hex
    // digits reads as 0 and a zero image sums to 0) and be written to the drive.
    if (!upgrade::SlotIsFilled(platform_.Slot)) return Ended(Kind::SlotUnfilled);
    OpenedDrive opened(transport);
    if (!opened.Open(drive)) return OpenFailed(transport);
    const uint32_t flashSize = opened.FlashSize();
    if (flashSize != ImageSize) return FlashSizeMismatch(flashSize);
    WorkBuffer image(platform_.Buffers, flashSize);
    if (!image.Held()) return Ended(Kind::NoImageBuffer);
    WorkBuffer readBack(platform_.Buffers, flashSize);
    if (!readBack.Held()) return Ended(Kind::NoReadBackBuffer);
    sink.Started(flashSize);

    std::memcpy(image.Bytes(), Image(), flashSize);
    const uint16_t computed = upgrade::ImageChecksum(image.Bytes(), flashSize);
    const uint16_t expected = ExpectedChecksum();
    if (computed != expected) {
        OperationOutcome outcome = Ended(Kind::ChecksumMismatch);
        outcome.ComputedChecksum = computed;
        outcome.ExpectedChecksum = expected;
        return outcome;
    }
    if (stopBeforeWriting) return Ended(Kind::StoppedBeforeWriting);
    if (!sink.MayStartWriting()) return Ended(Kind::Stopped);

    OperationOutcome outcome;
    if (!ChunkLoop(transport, platform_.Sleep, sink, outcome).Program(image.Bytes(), readBack.Bytes(), flashSize)) {
        return outcome;
    }
    // Sent once every chunk is verified; its answer is kept for the front-end, which decides what
    // a refusal means: the chunks went with the save mode and the drive activates them when it
    // restarts.
    outcome.CommitAccepted = transport.CommitFirmware() != 0;
    if (!outcome.CommitAccepted) outcome.Reason = transport.LastFailure();
    outcome.Written = OperationOutcome::Writes::Committed;
    sink.CommitSent(outcome.CommitAccepted);
    platform_.Sleep.Pause(CommitPauseMs);
    return outcome;
}

OperationOutcome FirmwareOperations::SaveInScope(DriveTransport& transport, const DeviceRecord& drive,
                                                 const std::string& path, OverwriteQuestion& question,
                                                 OperationSink& sink) {
    FileApi& files = platform_.Files;
    const ScopedHandle<DumpFileTraits> file(DumpFileTraits{&files}, files.OpenForWriting(path.c_str()));
    if (!file.IsOpen()) return Ended(Kind::FileOpenFailed);
    uint64_t length = 0;
    // A length that cannot be read is taken as content: the user is asked rather than a file lost.
    const bool hasContent = !files.GetLength(file.Get(), &length) || length != 0;
    if (hasContent && !question.MayOverwrite(path)) return Ended(Kind::OverwriteDeclined);
    // The old content is cut only once the dump has succeeded: a failed dump leaves it intact.
    FileReceiver receiver(files, file.Get(), hasContent);
    return ReadInScope(transport, drive, receiver, sink);
}

OperationOutcome FirmwareOperations::ReadInScope(DriveTransport& transport, const DeviceRecord& drive,
                                                 FlashReceiver& receiver, OperationSink& sink) {
    // Sized by the record that the open makes current; the loop reads exactly that much.
    const uint32_t flashSize = drive.FlashSize;
    WorkBuffer dump(platform_.Buffers, flashSize);
    if (!dump.Held()) return Ended(Kind::NoImageBuffer);
    OpenedDrive opened(transport);
    if (!opened.Open(drive)) return OpenFailed(transport);
    sink.Started(flashSize);
    OperationOutcome outcome;
    if (!ChunkLoop(transport, platform_.Sleep, sink, outcome).Dump(dump.Bytes(), flashSize)) return outcome;
    if (!receiver.Receive(dump.Bytes(), flashSize)) return Ended(Kind::FileWriteFailed);
    return outcome;
}

OperationOutcome FirmwareOperations::VerifyInScope(DriveTransport& transport, const DeviceRecord& drive,
                                                   OperationSink& sink, FlashReceiver* keeper) {
    if (!upgrade::SlotIsFilled(platform_.Slot)) return Ended(Kind::SlotUnfilled);
    // Refused before the open: a flash of another size cannot hold the image.
    if (drive.FlashSize != ImageSize) return FlashSizeMismatch(drive.FlashSize);
    ImageComparer comparer(Image(), keeper);
    OperationOutcome outcome = ReadInScope(transport, drive, comparer, sink);
    outcome.DifferingChunks = comparer.Differing;
    return outcome;
}
