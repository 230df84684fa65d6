#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/DialogLayout.h"
#include "app/WindowBackend.h"

// A window backend without windows: the controls of the template live in memory, the user's
// actions are a script, and message boxes and file dialogs answer from queues. A test presses a
// button by sending its command id through CDialog::OnCommand, the same routing the window
// procedure uses.
class HeadlessWindowBackend final : public WindowBackend {
public:
    struct Control {
        DialogControl::Kind Kind;
        std::string Text;
        bool Visible = true;
        bool Enabled = true;
        std::vector<std::string> Entries;
        int Selection = -1;
        int RangeLow = 0, RangeHigh = 100;
        int Position = 0;
        std::vector<int> PositionHistory;       // every position set, in order
        std::vector<std::string> TextHistory;   // every text set, in order
    };

    struct MessageBoxCall {
        std::string Text;
        bool HasCaption;
        std::string Caption;
        unsigned Type;
    };

    struct FileDialogCall {
        std::string DefaultExtension, InitialName, FilterDescription, FilterPattern;
        bool HasInitialDirectory;
        std::string InitialDirectory;
        unsigned long Flags;
    };

    explicit HeadlessWindowBackend(const DialogLayout& layout);

    // The user's actions while the dialog runs modally, taken in order. When the script runs out
    // before the dialog ends, the run ends with -1 (as if the window had been destroyed).
    void QueueAction(std::function<void(CDialog&)> action);
    void QueueCommand(int id);   // a click on a button, or Enter/Esc as IDOK/IDCANCEL

    // Answers of the boxes the dialog asks, in order. A box shown when no answer is left is one
    // the test did not expect: ShowMessageBox records it and throws std::logic_error, which fails
    // the test instead of letting some answer carry the code on.
    std::deque<int> MessageBoxAnswers;
    // What CurrentDirectory reports; Fails makes it return 0.
    std::string CurrentDirectoryText = "C:\\work";
    bool CurrentDirectoryFails = false;
    // Answers of file dialogs: an empty optional-like pair (false) is a cancelled dialog.
    std::deque<std::pair<bool, std::string>> FileDialogAnswers;

    // Creates the controls and initialises the dialog without a modal run, for tests that drive
    // the handlers one by one.
    void Open(CDialog& dialog);

    Control& ControlById(int id);
    const std::vector<MessageBoxCall>& MessageBoxes() const { return messageBoxes_; }
    const std::vector<FileDialogCall>& FileDialogs() const { return fileDialogs_; }
    const std::vector<std::pair<IconHandle, bool>>& IconsSet() const { return iconsSet_; }
    bool Ended() const { return ended_; }
    int EndResult() const { return endResult_; }
    int ModalRuns() const { return modalRuns_; }
    int IconLoads() const { return iconLoads_; }

    int RunModal(CDialog& dialog, int templateId) override;
    void EndDialog(int result) override;
    void SetControlText(int id, const char* text) override;
    std::string GetControlText(int id) override;
    void EnableControl(int id, bool enabled) override;
    bool IsControlEnabled(int id) override;
    int AddComboEntry(int id, const char* text) override;
    void SetComboSelection(int id, int index) override;
    int GetComboSelection(int id) override;
    void SetProgressRange(int id, int low, int high) override;
    void SetProgressPosition(int id, int position) override;
    std::string GetWindowTitle() override;
    void SetWindowTitle(const char* title) override;
    void SetIcon(IconHandle icon, bool big) override;
    IconHandle LoadAppIcon(int resourceId) override;
    int ShowMessageBox(const char* text, const char* caption, unsigned type) override;
    unsigned long CurrentDirectory(char* buffer, unsigned long room) override;
    bool RunFileOpenDialog(const FileOpenRequest& request, std::string& chosenPath) override;

private:
    void CreateControls();

    const DialogLayout& layout_;
    std::map<int, Control> controls_;
    std::string title_;
    std::deque<std::function<void(CDialog&)>> actions_;
    std::vector<MessageBoxCall> messageBoxes_;
    std::vector<FileDialogCall> fileDialogs_;
    std::vector<std::pair<IconHandle, bool>> iconsSet_;
    bool ended_ = false;
    int endResult_ = 0;
    int modalRuns_ = 0;
    int iconLoads_ = 0;
};
