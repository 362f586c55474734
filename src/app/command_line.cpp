#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tn {

namespace {

// The toolkit's command-line options; those in the first list take the next argument as value.
constexpr std::array<std::string_view, 14> kToolkitWithValue = {
    "-platform",        "-platformpluginpath",
    "-platformtheme",   "-plugin",
    "-qwindowgeometry", "-qwindowicon",
    "-qwindowtitle",    "-session",
    "-display",         "-name",
    "-title",           "-style",
    "-stylesheet",      "-qmljsdebugger"};
constexpr std::array<std::string_view, 6> kToolkitFlags = {"-reverse", "-widgetcount", "-nograb",
                                                           "-dograb",  "-sync",        "-visual"};

bool isOneOf(std::string_view a, auto&& list) {
    return std::find(list.begin(), list.end(), a) != list.end();
}

// "-style=fusion" and "--platform xcb" are the toolkit's too.
std::string_view toolkitName(std::string_view a) {
    if (a.starts_with("--"))
        a.remove_prefix(1);
    return a.substr(0, a.find('='));
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool report = false, help = false, version = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--version") {
            version = true;
        } else if (a == "--report") {
            report = true;
        } else if (a == "--json") {
            line.json = true;
        } else if (a == "--apps") {
            line.apps = true;
        } else if (a == "--hours") {
            line.hours = true;
        } else if (a.starts_with("-") && isOneOf(toolkitName(a), kToolkitWithValue)) {
            if (a.find('=') == std::string_view::npos)
                ++i; // its value
        } else if (!(a.starts_with("-") && isOneOf(toolkitName(a), kToolkitFlags))) {
            line.unknown.emplace_back(a);
        }
    }
    if (!line.unknown.empty())
        line.mode = CommandLine::Mode::Bad;
    else if (help)
        line.mode = CommandLine::Mode::Help;
    else if (version)
        line.mode = CommandLine::Mode::Version;
    else if ((line.json || line.hours) && !report) {
        line.mode = CommandLine::Mode::Bad;
        line.jsonWithoutReport = line.json;
        line.hoursWithoutReport = !line.json;
    } else if (line.apps && !report) {
        line.mode = CommandLine::Mode::Bad;
        line.appsWithoutReport = true;
    } else if (line.apps && line.hours) {
        // The programs are kept per day and month only.
        line.mode = CommandLine::Mode::Bad;
        line.appsWithHours = true;
    } else if (report)
        line.mode = CommandLine::Mode::Report;
    return line;
}

std::string commandLineProblem(const CommandLine& line) {
    if (line.unknown.empty())
        return line.jsonWithoutReport    ? "tallynet: --json goes with --report\n"
               : line.hoursWithoutReport ? "tallynet: --hours goes with --report\n"
               : line.appsWithoutReport  ? "tallynet: --apps goes with --report\n"
               : line.appsWithHours      ? "tallynet: --apps and --hours go one at a time\n"
                                         : std::string();
    std::string text =
        line.unknown.size() == 1 ? "tallynet: unknown option " : "tallynet: unknown options ";
    for (std::size_t i = 0; i < line.unknown.size(); ++i)
        text += (i ? ", " : "") + line.unknown[i];
    return text + " (tallynet --help lists the options)\n";
}

} // namespace tn
