#include "cli/TerminalView.h"

#include <cctype>

TerminalView::TerminalView(TerminalApi& terminal, ProgressBar& bar, const WatchedTransport& transport)
    : terminal_(terminal), bar_(bar), transport_(transport) {}

void TerminalView::ShowStatus(const char* text) {
    lastStatus_ = text;
    if (transport_.Stopped() != WatchedTransport::Stop::None) return;
    Line(TerminalApi::Stream::Out, text);
}

void TerminalView::ShowProgress(int) {}

void TerminalView::EnableButton(Button, bool) {}

int TerminalView::SelectedEntry() {
    return Selection;
}

int TerminalView::AskYesNo(const char* question) {
    return Confirm(question) ? AnswerYes : AnswerNo;
}

void TerminalView::Line(TerminalApi::Stream stream, const std::string& line) {
    bar_.Finish();
    const std::string text = line + "\n";
    terminal_.Write(stream, text.data(), text.size());
}

bool TerminalView::Confirm(const std::string& question) {
    if (AssumeYes) return true;
    if (!terminal_.InputIsTerminal()) return false;
    bar_.Finish();
    const std::string prompt = question + " [y/N] ";
    terminal_.Write(TerminalApi::Stream::Error, prompt.data(), prompt.size());
    std::string answer;
    if (!terminal_.ReadLine(answer)) {
        terminal_.Write(TerminalApi::Stream::Error, "\n", 1);
        return false;
    }
    std::string word;
    for (char c : answer) {
        if (!std::isspace(static_cast<unsigned char>(c))) word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return word == "y" || word == "yes";
}
