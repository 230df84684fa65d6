#include "app/DialogLayout.h"

#include "app/ControlIds.h"

namespace {

const DialogControl UpgradeDialogControls[] = {
    {ControlDeviceCombo, DialogControl::Kind::ComboBox, "", true, true},
    {ControlFirmwarePath, DialogControl::Kind::Edit, "", false, false},
    {ControlBrowse, DialogControl::Kind::PushButton, "...", false, true},
    {ControlSave, DialogControl::Kind::PushButton, "Save", false, true},
    {ControlUpgrade, DialogControl::Kind::PushButton, "Upgrade", true, true},
    {ControlExit, DialogControl::Kind::PushButton, "Exit", true, true},
    {ControlStatusLine, DialogControl::Kind::Edit, "", true, false},
    {ControlProgress, DialogControl::Kind::ProgressBar, "Progress1", true, true},
};

const DialogLayout Layout = {UpgradeDialogTemplateId, "Flash Upgrade Program", UpgradeDialogControls,
                             sizeof UpgradeDialogControls / sizeof UpgradeDialogControls[0]};

}  // namespace

const DialogLayout& UpgradeDialogLayout() {
    return Layout;
}
