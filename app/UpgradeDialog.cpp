#include "app/UpgradeDialog.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "app/ActiveTransport.h"
#include "app/ControlIds.h"
#include "upgrade/FirmwareChecksum.h"
#include "upgrade/OperationTexts.h"

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

}  // namespace

UpgradeDialog::UpgradeDialog(WindowBackend& backend, const FirmwareOperations::Platform& platform)
    : CDialog(UpgradeDialogTemplateId, backend), operations_(platform), slot_(platform.Slot) {
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
        window.SetControlText(ControlStatusLine, OperationTexts::SlotUnfilled());
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

void UpgradeDialog::OnUpgrade() {
    ShowStatus(OperationTexts::UpgradeStarts());
    // Save and the file choice enable the button again, so an unfilled slot is refused here too.
    if (!upgrade::SlotIsFilled(slot_)) {
        ShowStatus(OperationTexts::SlotUnfilled());
        Backend().EnableControl(ControlUpgrade, false);
        Backend().EnableControl(ControlBrowse, true);
        Backend().EnableControl(ControlExit, true);
        return;
    }
    if (!TakeSelectedDevice()) return;
    EnableOperationButtons(false, false, false);
    running_ = Running::Upgrade;
    const OperationOutcome outcome = operations_.Upgrade(*ActiveTransport, *SelectedDevice, *this);
    ShowOutcome(outcome);
    switch (outcome.Result) {
    case OperationOutcome::Kind::Done:
        UpgradeSucceeded = 1;
        Backend().EnableControl(ControlExit, true);
        break;
    // Upgrade came back when the buffers were held; the browse button stays disabled.
    case OperationOutcome::Kind::ChecksumMismatch: Backend().EnableControl(ControlExit, true); break;
    default: EnableOperationButtons(true, true, true); break;
    }
}

void UpgradeDialog::OnSave() {
    ShowStatus(OperationTexts::SaveStarts());
    if (!TakeSelectedDevice()) return;
    EnableOperationButtons(false, false, false);
    running_ = Running::Save;
    ShowOutcome(operations_.Save(*ActiveTransport, *SelectedDevice, FirmwarePath, *this, *this));
    EnableOperationButtons(true, true, true);
}

bool UpgradeDialog::TakeSelectedDevice() {
    // The drop-down has an edit field: with several drives the user can type into it and leave no
    // entry selected. Such a selection names no drive and nothing is touched.
    const int entry = Backend().GetComboSelection(ControlDeviceCombo);
    const DeviceRecord* record = entry < 0 ? nullptr : DeviceList.At(static_cast<size_t>(entry));
    if (record == nullptr) {
        ShowStatus("No Device Selected!!");
        return false;
    }
    SelectedDevice = record;
    return true;
}

void UpgradeDialog::ShowOutcome(const OperationOutcome& outcome) {
    // Some outcomes have no text of their own: the status line keeps the operation's start text.
    const std::string text = OperationTexts::Status(outcome, *SelectedDevice, FirmwarePath);
    if (!text.empty()) ShowStatus(text.c_str());
}

void UpgradeDialog::EnableOperationButtons(bool browse, bool upgrade, bool exit) {
    Backend().EnableControl(ControlBrowse, browse);
    Backend().EnableControl(ControlUpgrade, upgrade);
    Backend().EnableControl(ControlExit, exit);
}

void UpgradeDialog::ShowStatus(const char* text) {
    Backend().SetControlText(ControlStatusLine, text);
}

void UpgradeDialog::ShowProgress(int percent) {
    Backend().SetProgressPosition(ControlProgress, percent);
}

bool UpgradeDialog::MayOverwrite(const std::string& path) {
    // No owner, no icon, the platform's default caption. Any answer but No overwrites.
    const std::string question = OperationTexts::OverwriteQuestion(path);
    return Backend().ShowMessageBox(question.c_str(), nullptr, WindowBackend::MbYesNo) != IdNo;
}

void UpgradeDialog::Started(uint32_t flashSize) {
    flashSize_ = flashSize;
    // An Upgrade gives its button back once its buffers are held, whatever follows.
    if (running_ == Running::Upgrade) Backend().EnableControl(ControlUpgrade, true);
}

void UpgradeDialog::ShowChunkProgress(uint32_t end) {
    // Integer division on purpose: the bar stays at 0 until the last chunk is through.
    ProgressPercent = static_cast<int>((end / flashSize_) * 100);
    // An upgrade is not done before its commit: the last verified chunk shows 75.
    if (running_ == Running::Upgrade && ProgressPercent == 100) ProgressPercent = 75;
    ShowProgress(ProgressPercent);
}

void UpgradeDialog::ChunkVerified(uint32_t offset, uint32_t length) { ShowChunkProgress(offset + length); }

void UpgradeDialog::ChunkRead(uint32_t offset, uint32_t length) { ShowChunkProgress(offset + length); }

void UpgradeDialog::Finished(const OperationOutcome& outcome) {
    // The commit and its pause are behind: the bar shows the end.
    if (outcome.Written == OperationOutcome::Writes::Committed) ShowProgress(100);
}
