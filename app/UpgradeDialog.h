#pragma once

#include <string>

#include "app/CDialog.h"
#include "transport/DeviceList.h"
#include "transport/DeviceRecord.h"
#include "upgrade/FirmwareOperations.h"
#include "upgrade/OperationOutcome.h"
#include "upgrade/OperationSink.h"

// The program's one window: the drives in a drop-down, Upgrade and Exit, a status line and a
// progress bar; hidden, a path field, "..." and Save. Upgrade and Save run the firmware operations
// on the selected drive of ActiveTransport; the dialog moves its bar as they go and turns what
// they return into its status text and buttons.
class UpgradeDialog : public CDialog, private FirmwareOperations::OverwriteQuestion, private OperationSink {
public:
    UpgradeDialog(WindowBackend& backend, const FirmwareOperations::Platform& platform);

    bool OnInitDialog() override;
    bool OnCommand(int id) override;

    void OnUpgrade();
    void OnSave();
    void OnBrowse();
    void OnExit();

    const DeviceRecord* SelectedDevice = nullptr;  // inside DeviceList, taken when an operation starts
    int RestartRequested = 0;                      // the answer to the restart prompt
    ::DeviceList DeviceList;                       // filled by the scan, never changed afterwards
    std::string FirmwarePath;                      // Save's output file, chosen with "..."
    void* AppIcon = nullptr;                       // icon resource 128, owned by the platform
    int UpgradeSucceeded = 0;                      // set by a completed Upgrade, never cleared
    int ProgressPercent = 0;                       // last value given to the progress bar

protected:
    void DoDataExchange(CDataExchange& exchange) override;

private:
    enum class Running { Upgrade, Save };

    void ShowStatus(const char* text);
    void ShowProgress(int percent);
    void EnableOperationButtons(bool browse, bool upgrade, bool exit);
    // Takes the drop-down's entry as SelectedDevice; false (and says so) when it names no drive.
    bool TakeSelectedDevice();
    void ShowOutcome(const OperationOutcome& outcome);
    // The bar after the chunk that ends at END of the flash.
    void ShowChunkProgress(uint32_t end);

    // FirmwareOperations::OverwriteQuestion
    bool MayOverwrite(const std::string& path) override;
    // OperationSink
    void Started(uint32_t flashSize) override;
    void ChunkVerified(uint32_t offset, uint32_t length) override;
    void ChunkRead(uint32_t offset, uint32_t length) override;
    void Finished(const OperationOutcome& outcome) override;

    FirmwareOperations operations_;
    const unsigned char* slot_;
    Running running_ = Running::Upgrade;
    uint32_t flashSize_ = 0;
};
