#pragma once

#include <string>

#include "cli/ProgressBar.h"
#include "cli/TerminalApi.h"
#include "cli/WatchedTransport.h"
#include "upgrade/UpgradeView.h"

// The operations' view on a terminal: the status line becomes lines on the standard output, the
// drop-down's selection is the drive the command chose, the message box a question on the
// terminal. The buttons and the dialog's own progress bar have nothing to show here (the bar on
// the standard error moves per chunk, see WatchedTransport).
//
// Once the environment or a dry run has stopped the operation, its later texts (the failure
// that the stop caused) are not shown: the front-end says what happened, once.
class TerminalView final : public UpgradeView {
public:
    static constexpr int AnswerYes = 6;   // the message box's "Yes"

    TerminalView(TerminalApi& terminal, ProgressBar& bar, const WatchedTransport& transport);

    // The drive the command chose, as a position in the list.
    int Selection = NoSelection;
    // Answer every question with Yes without asking (--yes).
    bool AssumeYes = false;

    // The last status text that was set, shown or not.
    const std::string& LastStatus() const { return lastStatus_; }

    void ShowStatus(const char* text) override;
    void ShowProgress(int percent) override;
    void EnableButton(Button button, bool enabled) override;
    int SelectedEntry() override;
    int AskYesNo(const char* question) override;

    // Writes LINE and a newline to the stream, after ending the bar's line.
    void Line(TerminalApi::Stream stream, const std::string& line);
    // Asks QUESTION with " [y/N] " on the terminal: true for y or yes. AssumeYes answers it
    // unasked; without a terminal and without AssumeYes the answer is No.
    bool Confirm(const std::string& question);

private:
    TerminalApi& terminal_;
    ProgressBar& bar_;
    const WatchedTransport& transport_;
    std::string lastStatus_;
};
