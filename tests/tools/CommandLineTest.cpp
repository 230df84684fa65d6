#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLine, AcceptsOptionsInAnyOrder) {
    const std::vector<std::vector<std::string>> orders = {
        {"--image", "fw.bin", "--version", "1.10", "--output", "out.exe", "prog.exe"},
        {"prog.exe", "--output", "out.exe", "--version", "1.10", "--image", "fw.bin"},
        {"--version", "1.10", "prog.exe", "--image", "fw.bin", "--output", "out.exe"},
    };
    for (const auto& arguments : orders) {
        const CommandLine line = CommandLine::Parse(arguments);
        ASSERT_TRUE(line.ok) << line.reason;
        EXPECT_EQ(line.request.image, "fw.bin");
        EXPECT_EQ(line.request.version, "1.10");
        EXPECT_EQ(line.request.output, "out.exe");
        EXPECT_EQ(line.request.program, "prog.exe");
    }
}

// The other refusals run through the program in slot-e2e.sh.
TEST(CommandLine, NamesTheMissingOption) {
    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{"--image", "i", "--output", "o", "p"}, "missing --version"},
        {{"--image", "i", "--version", "1", "p"}, "missing --output"},
        {{"-i", "i", "--version", "1", "--output", "o", "p"}, "unknown option -i"},
    };
    for (const Case& c : cases) {
        const CommandLine line = CommandLine::Parse(c.arguments);
        EXPECT_FALSE(line.ok) << c.reason;
        EXPECT_EQ(line.reason, c.reason);
    }
}

}  // namespace
