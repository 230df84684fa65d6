#include "app/UpgradeDialog.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "app/ControlIds.h"
#include "upgrade/FirmwareChecksum.h"

namespace {

// The text after the last "." of the file's name (not of its folders), compared with "bin"
// ignoring case.
bool HasBinExtension(const std::string& path) {
    const size_t nameStart = path.find_last_of("\\/");
    const std::string name = nameStart == std::string::npos ? path : path.substr(nameStart + 1);
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (extension.size() != 3) return false;
    const char* bin = "bin";
    for (size_t i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(extension[i])) != bin[i]) return false;
    }
    return true;
}

int ButtonControl(UpgradeView::Button button) {
    switch (button) {
    case UpgradeView::Button::Browse: return ControlBrowse;
    case UpgradeView::Button::Upgrade: return ControlUpgrade;
    case UpgradeView::Button::Exit: return ControlExit;
    }
    return ControlExit;
}

}  // namespace

UpgradeDialog::UpgradeDialog(WindowBackend& backend, const UpgradeOperations::Platform& platform)
    : CDialog(UpgradeDialogTemplateId, backend),
      UpgradeOperations(static_cast<UpgradeView&>(*this), platform),
      slot_(platform.Slot) {
    AppIcon = backend.LoadAppIcon(AppIconResourceId);
}

bool UpgradeDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    WindowBackend& window = Backend();
    window.SetIcon(AppIcon, true);
    window.SetIcon(AppIcon, false);

    const std::string title = window.GetWindowTitle() + " 1.51";
    window.SetWindowTitle(title.c_str());

    for (size_t i = 0; i < DeviceList.Count(); ++i) {
        const DeviceRecord& record = *DeviceList.At(i);
        char entry[160];
        std::snprintf(entry, sizeof entry, "(%u, %u, %u, %u) %s %s Version %u.%u", unsigned(record.PortNumber),
                      unsigned(record.PathId), unsigned(record.TargetId), unsigned(record.Lun), record.Vendor,
                      record.Product, unsigned(record.VersionMajor), unsigned(record.VersionMinor));
        window.AddComboEntry(ControlDeviceCombo, entry);
    }
    window.SetComboSelection(ControlDeviceCombo, 0);
    // With one drive there is nothing to choose.
    if (DeviceList.Count() == 1) window.EnableControl(ControlDeviceCombo, false);

    if (!upgrade::SlotIsFilled(slot_)) {
        window.EnableControl(ControlUpgrade, false);
        window.SetControlText(ControlStatusLine, "Need Combine firmware first !!");
    }

    ProgressPercent = 0;
    window.SetProgressRange(ControlProgress, 0, 100);
    window.SetProgressPosition(ControlProgress, ProgressPercent);
    SelectedDevice = nullptr;
    UpgradeSucceeded = 0;
    return true;
}

bool UpgradeDialog::OnCommand(int id) {
    switch (id) {
    case IdOk:
    case IdCancel:
    case ControlExit: OnExit(); return true;
    case ControlSave: OnSave(); return true;
    case ControlUpgrade: OnUpgrade(); return true;
    case ControlBrowse: OnBrowse(); return true;
    default: return CDialog::OnCommand(id);
    }
}

void UpgradeDialog::DoDataExchange(CDataExchange& exchange) {
    CDialog::DoDataExchange(exchange);
    DDX_Text(exchange, ControlFirmwarePath, FirmwarePath);
}

void UpgradeDialog::OnBrowse() {
    WindowBackend::FileOpenRequest request;
    request.DefaultExtension = "bin";
    request.InitialName = "*.bin";
    request.FilterDescription = "Firmware File (bin)";
    request.FilterPattern = "*.bin";
    // No flag requires the file to exist: Save creates it.
    request.Flags = WindowBackend::OfnHideReadOnly;

    char directory[256];
    const unsigned long length = Backend().CurrentDirectory(directory, sizeof directory);
    if (length != 0 && length < sizeof directory) request.InitialDirectory = directory;

    std::string chosen;
    if (!Backend().RunFileOpenDialog(request, chosen)) return;
    if (!HasBinExtension(chosen)) return;

    FirmwarePath = chosen;
    Backend().SetControlText(ControlFirmwarePath, FirmwarePath.c_str());
    Backend().EnableControl(ControlUpgrade, true);
    ShowStatus("Select Firmware or Click Upgrade to Upgrade...");
}

void UpgradeDialog::OnExit() {
    if (UpgradeSucceeded) {
        const int answer = Backend().ShowMessageBox(
            "You must restart Windows in order for the changes to take effect.You may restart now or exit and "
            "restart later.",
            "DVD Firmware Upgrade Program - Restart System", WindowBackend::MbOkCancel);
        RestartRequested = answer == IdOk;
    } else {
        RestartRequested = 0;
    }
    // Enter, Esc, the close box and Exit all leave through the OK path.
    CDialog::OnOK();
}

void UpgradeDialog::ShowStatus(const char* text) {
    Backend().SetControlText(ControlStatusLine, text);
}

void UpgradeDialog::ShowProgress(int percent) {
    Backend().SetProgressPosition(ControlProgress, percent);
}

void UpgradeDialog::EnableButton(Button button, bool enabled) {
    Backend().EnableControl(ButtonControl(button), enabled);
}

int UpgradeDialog::SelectedEntry() {
    return Backend().GetComboSelection(ControlDeviceCombo);
}

int UpgradeDialog::AskYesNo(const char* question) {
    return Backend().ShowMessageBox(question, nullptr, WindowBackend::MbYesNo);
}
