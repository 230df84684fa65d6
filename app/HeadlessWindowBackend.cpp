#include "app/HeadlessWindowBackend.h"

#include <stdexcept>
#include <utility>

#include "app/CDialog.h"

HeadlessWindowBackend::HeadlessWindowBackend(const DialogLayout& layout) : layout_(layout) {
    CreateControls();
}

void HeadlessWindowBackend::CreateControls() {
    controls_.clear();
    for (size_t i = 0; i < layout_.ControlCount; ++i) {
        const DialogControl& c = layout_.Controls[i];
        Control control;
        control.Kind = c.ControlKind;
        control.Text = c.Text;
        control.Visible = c.Visible;
        control.Enabled = c.Enabled;
        controls_[c.Id] = control;
    }
    title_ = layout_.Title;
    ended_ = false;
    endResult_ = 0;
}

void HeadlessWindowBackend::QueueAction(std::function<void(CDialog&)> action) {
    actions_.push_back(std::move(action));
}

void HeadlessWindowBackend::QueueCommand(int id) {
    actions_.push_back([id](CDialog& dialog) { dialog.OnCommand(id); });
}

void HeadlessWindowBackend::Open(CDialog& dialog) {
    CreateControls();
    dialog.OnInitDialog();
}

HeadlessWindowBackend::Control& HeadlessWindowBackend::ControlById(int id) {
    auto it = controls_.find(id);
    // A control the template does not have is a fault of the code under test, not of the script.
    if (it == controls_.end()) throw std::out_of_range("no control " + std::to_string(id) + " in the template");
    return it->second;
}

int HeadlessWindowBackend::RunModal(CDialog& dialog, int templateId) {
    if (templateId != layout_.TemplateId) return -1;
    ++modalRuns_;
    CreateControls();
    dialog.OnInitDialog();
    while (!ended_ && !actions_.empty()) {
        std::function<void(CDialog&)> action = std::move(actions_.front());
        actions_.pop_front();
        action(dialog);
    }
    return ended_ ? endResult_ : -1;
}

void HeadlessWindowBackend::EndDialog(int result) {
    ended_ = true;
    endResult_ = result;
}

void HeadlessWindowBackend::SetControlText(int id, const char* text) {
    Control& control = ControlById(id);
    control.Text = text;
    control.TextHistory.push_back(text);
}

std::string HeadlessWindowBackend::GetControlText(int id) {
    return ControlById(id).Text;
}

void HeadlessWindowBackend::EnableControl(int id, bool enabled) {
    ControlById(id).Enabled = enabled;
}

bool HeadlessWindowBackend::IsControlEnabled(int id) {
    return ControlById(id).Enabled;
}

int HeadlessWindowBackend::AddComboEntry(int id, const char* text) {
    Control& control = ControlById(id);
    control.Entries.push_back(text);
    return static_cast<int>(control.Entries.size()) - 1;
}

void HeadlessWindowBackend::SetComboSelection(int id, int index) {
    Control& control = ControlById(id);
    // Like CB_SETCURSEL: an index past the entries clears the selection.
    control.Selection = (index >= 0 && index < static_cast<int>(control.Entries.size())) ? index : -1;
    control.Text = control.Selection >= 0 ? control.Entries[static_cast<size_t>(control.Selection)] : "";
}

int HeadlessWindowBackend::GetComboSelection(int id) {
    return ControlById(id).Selection;
}

void HeadlessWindowBackend::SetProgressRange(int id, int low, int high) {
    Control& control = ControlById(id);
    control.RangeLow = low;
    control.RangeHigh = high;
}

void HeadlessWindowBackend::SetProgressPosition(int id, int position) {
    Control& control = ControlById(id);
    control.Position = position;
    control.PositionHistory.push_back(position);
}

std::string HeadlessWindowBackend::GetWindowTitle() {
    return title_;
}

void HeadlessWindowBackend::SetWindowTitle(const char* title) {
    title_ = title;
}

void HeadlessWindowBackend::SetIcon(IconHandle icon, bool big) {
    iconsSet_.emplace_back(icon, big);
}

WindowBackend::IconHandle HeadlessWindowBackend::LoadAppIcon(int resourceId) {
    ++iconLoads_;
    // Any distinct non-null value stands for the loaded icon.
    return reinterpret_cast<IconHandle>(static_cast<intptr_t>(0x10000 + resourceId));
}

int HeadlessWindowBackend::ShowMessageBox(const char* text, const char* caption, unsigned type) {
    messageBoxes_.push_back({text, caption != nullptr, caption != nullptr ? caption : "", type});
    if (MessageBoxAnswers.empty()) throw std::logic_error(std::string("a message box no test expected: ") + text);
    const int answer = MessageBoxAnswers.front();
    MessageBoxAnswers.pop_front();
    return answer;
}

unsigned long HeadlessWindowBackend::CurrentDirectory(char* buffer, unsigned long room) {
    if (CurrentDirectoryFails) return 0;
    const unsigned long length = static_cast<unsigned long>(CurrentDirectoryText.size());
    if (length + 1 > room) return length + 1;
    CurrentDirectoryText.copy(buffer, length);
    buffer[length] = '\0';
    return length;
}

bool HeadlessWindowBackend::RunFileOpenDialog(const FileOpenRequest& request, std::string& chosenPath) {
    auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
    fileDialogs_.push_back({text(request.DefaultExtension), text(request.InitialName),
                            text(request.FilterDescription), text(request.FilterPattern),
                            request.InitialDirectory != nullptr, text(request.InitialDirectory), request.Flags});
    if (FileDialogAnswers.empty()) return false;
    const std::pair<bool, std::string> answer = FileDialogAnswers.front();
    FileDialogAnswers.pop_front();
    if (answer.first) chosenPath = answer.second;
    return answer.first;
}
