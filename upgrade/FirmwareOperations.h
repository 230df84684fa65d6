#pragma once

#include <cstdint>
#include <string>

#include "transport/DeviceRecord.h"
#include "transport/DriveTransport.h"
#include "upgrade/FileApi.h"
#include "upgrade/OperationOutcome.h"
#include "upgrade/OperationSink.h"
#include "upgrade/SleepApi.h"
#include "upgrade/WorkBufferAllocator.h"

// The long operations on one drive: Upgrade writes the program's image, Save and Read take the
// whole flash, Verify compares it with the image. Each runs on the transport and drive record it
// is given, holds its work buffers and the open drive for its own duration only (released on
// every path), tells its progress to a sink and returns what happened. None shows a text.
class FirmwareOperations {
public:
    static constexpr unsigned CommitPauseMs = 200;

    // What every operation of a program works with. Slot points at a firmware slot (head and
    // image, as the program carries it): the program's own, or one a test built.
    struct Platform {
        FileApi& Files;
        SleepApi& Sleep;
        WorkBufferAllocator& Buffers;
        const unsigned char* Slot;
    };

    // Save asks before it cuts a file that has content.
    class OverwriteQuestion {
    public:
        // True when the file at PATH may lose its content.
        virtual bool MayOverwrite(const std::string& path) = 0;

    protected:
        ~OverwriteQuestion() = default;
    };

    // Where Read puts the flash it read.
    class FlashReceiver {
    public:
        // Takes SIZE bytes of flash; false when they could not be kept.
        virtual bool Receive(const uint8_t* flash, uint32_t size) = 0;

    protected:
        ~FlashReceiver() = default;
    };

    explicit FirmwareOperations(const Platform& platform);

    // Writes the slot's image to DRIVE chunk by chunk, verifying each, and commits. With
    // STOPBEFOREWRITING it does everything short of the first write and ends StoppedBeforeWriting.
    OperationOutcome Upgrade(DriveTransport& transport, const DeviceRecord& drive, OperationSink& sink,
                             bool stopBeforeWriting = false);
    // Reads DRIVE's whole flash into the file at PATH, asking QUESTION before cutting content.
    OperationOutcome Save(DriveTransport& transport, const DeviceRecord& drive, const std::string& path,
                          OverwriteQuestion& question, OperationSink& sink);
    // Reads DRIVE's whole flash and hands it to RECEIVER.
    OperationOutcome Read(DriveTransport& transport, const DeviceRecord& drive, FlashReceiver& receiver,
                          OperationSink& sink);
    // Reads DRIVE's flash and counts the chunks that differ from the image (DifferingChunks);
    // hands the flash to KEEPER as well when one is given (FileWriteFailed when it refuses it).
    OperationOutcome Verify(DriveTransport& transport, const DeviceRecord& drive, OperationSink& sink,
                            FlashReceiver* keeper = nullptr);

private:
    // The operations without the closing Finished event: their scopes have ended when it is told.
    OperationOutcome UpgradeInScope(DriveTransport& transport, const DeviceRecord& drive, OperationSink& sink,
                                    bool stopBeforeWriting);
    OperationOutcome SaveInScope(DriveTransport& transport, const DeviceRecord& drive, const std::string& path,
                                 OverwriteQuestion& question, OperationSink& sink);
    OperationOutcome ReadInScope(DriveTransport& transport, const DeviceRecord& drive, FlashReceiver& receiver,
                                 OperationSink& sink);
    OperationOutcome VerifyInScope(DriveTransport& transport, const DeviceRecord& drive, OperationSink& sink,
                                   FlashReceiver* keeper);
    const uint8_t* Image() const;
    uint16_t ExpectedChecksum() const;

    Platform platform_;
};
