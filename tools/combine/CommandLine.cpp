#include "CommandLine.h"

#include <utility>

namespace {

CommandLine Refuse(std::string reason) {
    CommandLine refused;
    refused.reason = std::move(reason);
    return refused;
}

}  // namespace

CommandLine CommandLine::Parse(const std::vector<std::string>& arguments) {
    CommandLine result;
    Combine::Request& request = result.request;
    struct Option {
        const char* name;
        std::string* value;
        bool seen;
    };
    Option options[] = {{"--image", &request.image, false},
                        {"--version", &request.version, false},
                        {"--output", &request.output, false}};
    bool programSeen = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.size() > 1 && argument[0] == '-') {
            Option* option = nullptr;
            for (Option& candidate : options)
                if (argument == candidate.name) option = &candidate;
            if (option == nullptr) return Refuse("unknown option " + argument);
            if (option->seen) return Refuse(argument + " given twice");
            if (i + 1 == arguments.size()) return Refuse(argument + " needs a value");
            option->seen = true;
            *option->value = arguments[++i];
        } else {
            if (programSeen) return Refuse("more than one PROGRAM: " + argument);
            programSeen = true;
            request.program = argument;
        }
    }
    for (const Option& option : options)
        if (!option.seen) return Refuse(std::string("missing ") + option.name);
    if (!programSeen) return Refuse("missing PROGRAM");
    result.ok = true;
    return result;
}
