#pragma once

#include <string>
#include <vector>

#include "Combine.h"

// combine's arguments: --image IMAGE --version TEXT --output OUT PROGRAM, in any order.
class CommandLine {
public:
    static constexpr const char* Usage = "usage: combine --image IMAGE --version TEXT --output OUT PROGRAM";

    bool ok = false;
    std::string reason;  // why the arguments were refused, when !ok
    Combine::Request request;

    // arguments excludes the program name.
    static CommandLine Parse(const std::vector<std::string>& arguments);
};
