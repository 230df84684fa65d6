#pragma once

#include <cstddef>
#include <cstdint>

#include "upgrade/FileApi.h"
#include "upgrade/SleepApi.h"
#include "upgrade/UpgradeState.h"
#include "upgrade/UpgradeView.h"
#include "upgrade/WorkBufferAllocator.h"

// The two long operations of the dialog, Upgrade and Save, and their chunk loops. They run to the
// end inside the button handler, reach the drive only through ActiveTransport and report through
// the view: status line, progress bar, button states.
class UpgradeOperations : public UpgradeState {
public:
    static constexpr uint32_t ChunkLength = 16384;
    static constexpr int AttemptsPerChunk = 5;
    static constexpr uint32_t UpgradeFlashSize = 131072;   // the size of the slot's image
    static constexpr unsigned CommitPauseMs = 200;

    // The platform pieces the operations use. Slot points at a firmware slot (head and image, as
    // the program carries it): the program's own, or one a test built.
    struct Platform {
        FileApi& Files;
        SleepApi& Sleep;
        WorkBufferAllocator& Buffers;
        const unsigned char* Slot;
    };

    UpgradeOperations(UpgradeView& view, const Platform& platform);

    // Programs the whole flash of the open drive from ImageBuffer, verifying every chunk against
    // ReadBackBuffer, then commits. False after five failed attempts in a row on one chunk.
    bool ProgramFlash();
    // Reads the whole flash of the open drive into ImageBuffer. False after five failed attempts
    // in a row on one chunk.
    bool DumpFlash();

    void OnUpgrade();
    void OnSave();

private:
    void ShowStatusFormatted(const char* format, ...);
    void EnableAllButtons();
    void DisableAllButtons();
    // Takes the drop-down's entry as SelectedDevice; false (and says so) when it names no drive.
    bool TakeSelectedDevice();
    void ShowOpenFailure();
    void ShowChunkFailure(uint32_t offset);
    void SetProgressFromOffset(uint32_t offset, uint32_t flashSize, bool holdBackFull);
    void ReleaseBuffers();

    UpgradeView& view_;
    Platform platform_;
};
