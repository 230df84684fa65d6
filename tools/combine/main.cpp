#include <cstdio>
#include <string>
#include <vector>

#include "CombineFileApi.h"
#include "CommandLine.h"
#include "Combine.h"

namespace {

// Each message is one line, whatever a file name holds.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = '?';
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const CommandLine commandLine = CommandLine::Parse(arguments);
    if (!commandLine.ok) {
        std::fprintf(stderr, "combine: %s\n%s\n", OneLine(commandLine.reason).c_str(), CommandLine::Usage);
        return 2;
    }
    const Combine::Result result = Combine::Run(commandLine.request, SystemCombineFileApi());
    if (!result.ok) {
        std::fprintf(stderr, "combine: %s\n", OneLine(result.message).c_str());
        return 1;
    }
    std::printf("combine: %s\n", OneLine(result.message).c_str());
    return 0;
}
