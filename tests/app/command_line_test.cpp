#include "app/command_line.h"

#include <gtest/gtest.h>

namespace tn {
namespace {

using Mode = CommandLine::Mode;

struct Case {
    std::vector<std::string> args;
    Mode mode;
    bool json;
    std::vector<std::string> unknown;
};

// Unknown options must end the program before a window appears (a typo would otherwise open a
// second window attempt or be ignored); the toolkit's own options, which a session manager uses
// to restart the program, must still reach the window.
TEST(CommandLineTest, Parse_EveryKindOfArgument_GivesItsMode) {
    const Case cases[] = {
        {{}, Mode::Window, false, {}},
        {{"--report"}, Mode::Report, false, {}},
        {{"--report", "--json"}, Mode::Report, true, {}},
        {{"--json", "--report"}, Mode::Report, true, {}},
        {{"--json"}, Mode::Bad, true, {}},
        {{"--help"}, Mode::Help, false, {}},
        {{"-h", "--version"}, Mode::Help, false, {}},
        {{"--version"}, Mode::Version, false, {}},
        {{"--bogus"}, Mode::Bad, false, {"--bogus"}},
        {{"-x", "--report", "stray"}, Mode::Bad, false, {"-x", "stray"}},
        {{"--help", "--bogus"}, Mode::Bad, false, {"--bogus"}},
        {{"--report", "--jsno"}, Mode::Bad, false, {"--jsno"}},
        {{"-platform", "xcb"}, Mode::Window, false, {}},
        {{"-session", "10d2f", "-style=fusion", "-reverse"}, Mode::Window, false, {}},
        {{"--platform", "offscreen"}, Mode::Window, false, {}},
        {{"platform"}, Mode::Bad, false, {"platform"}},
        {{"-platform"}, Mode::Window, false, {}},
    };
    for (const Case& c : cases) {
        std::string what;
        for (const auto& a : c.args)
            what += a + " ";
        const CommandLine line = parseCommandLine(c.args);
        EXPECT_EQ(line.mode, c.mode) << what;
        EXPECT_EQ(line.json, c.json) << what;
        EXPECT_EQ(line.unknown, c.unknown) << what;
    }
}

TEST(CommandLineTest, Problem_NamesEveryUnknownOption) {
    EXPECT_EQ(commandLineProblem(parseCommandLine({"--bogus"})),
              "tallynet: unknown option --bogus (tallynet --help lists the options)\n");
    EXPECT_EQ(commandLineProblem(parseCommandLine({"--a", "-b"})),
              "tallynet: unknown options --a, -b (tallynet --help lists the options)\n");
    EXPECT_EQ(commandLineProblem(parseCommandLine({"--json"})),
              "tallynet: --json goes with --report\n");
    EXPECT_EQ(commandLineProblem(parseCommandLine({"--hours"})),
              "tallynet: --hours goes with --report\n");
    EXPECT_TRUE(parseCommandLine({"--report", "--hours"}).hours);
    // The programs are kept per day and month only: no report may drop --hours unsaid.
    EXPECT_EQ(commandLineProblem(parseCommandLine({"--report", "--apps", "--hours"})),
              "tallynet: --apps and --hours go one at a time\n");
    EXPECT_EQ(commandLineProblem(parseCommandLine({"--report"})), "");
}

} // namespace
} // namespace tn
