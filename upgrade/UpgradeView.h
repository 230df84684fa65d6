#pragma once

// What the firmware operations need of the dialog that runs them: the status line, the progress
// bar, the three buttons they disable and enable, the drop-down's selection and one question box.
// The dialog implements it; the operations never see a window.
class UpgradeView {
public:
    enum class Button { Browse, Upgrade, Exit };   // "...", "Upgrade", "Exit"

    static constexpr int NoSelection = -1;
    static constexpr int AnswerNo = 7;              // the message box's "No"

    // Replaces the status line's text.
    virtual void ShowStatus(const char* text) = 0;
    // Moves the progress bar (range 0 to 100).
    virtual void ShowProgress(int percent) = 0;
    virtual void EnableButton(Button button, bool enabled) = 0;
    // The drop-down's current entry, or NoSelection.
    virtual int SelectedEntry() = 0;
    // A Yes/No message box with no owner, no icon and the platform's default caption; returns
    // the answer as the platform reports it.
    virtual int AskYesNo(const char* question) = 0;

protected:
    ~UpgradeView() = default;
};
