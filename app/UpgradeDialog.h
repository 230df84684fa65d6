#pragma once

#include "app/CDialog.h"
#include "upgrade/UpgradeOperations.h"
#include "upgrade/UpgradeView.h"

// The program's one window: the drives in a drop-down, Upgrade and Exit, a status line and a
// progress bar; hidden, a path field, "..." and Save. Its members (SelectedDevice through
// ProgressPercent) come with the firmware operations it runs.
class UpgradeDialog : public CDialog, public UpgradeOperations, private UpgradeView {
public:
    UpgradeDialog(WindowBackend& backend, const UpgradeOperations::Platform& platform);

    bool OnInitDialog() override;
    bool OnCommand(int id) override;

    void OnBrowse();
    void OnExit();

protected:
    void DoDataExchange(CDataExchange& exchange) override;

private:
    // UpgradeView
    void ShowStatus(const char* text) override;
    void ShowProgress(int percent) override;
    void EnableButton(Button button, bool enabled) override;
    int SelectedEntry() override;
    int AskYesNo(const char* question) override;

    const unsigned char* slot_;
};
