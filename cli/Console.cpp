#include "cli/Console.h"

#include <cctype>

#include "upgrade/OperationTexts.h"

Console::Console(TerminalApi& terminal, ProgressBar& bar) : terminal_(terminal), bar_(bar) {}

void Console::Line(TerminalApi::Stream stream, const std::string& line) {
    bar_.Break();
    const std::string text = line + "\n";
    terminal_.Write(stream, text.data(), text.size());
}

bool Console::Confirm(const std::string& question) {
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
        if (!std::isspace(static_cast<unsigned char>(c)))
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return word == "y" || word == "yes";
}

bool Console::MayOverwrite(const std::string& path) { return Confirm(OperationTexts::OverwriteQuestion(path)); }
