#pragma once
#include <string>
#include <vector>

namespace tn {

// What the command line asks for. The terminal options are looked at before anything else: none
// of them needs a display, the instance lock or the settings.
struct CommandLine {
    enum class Mode { Window, Report, Help, Version, Bad };
    Mode mode = Mode::Window;
    bool json = false;
    bool apps = false;  // with --report: the traffic per program
    bool hours = false; // --hours: the last 48 hours too
    // Mode::Bad: the arguments not understood, in the order given.
    std::vector<std::string> unknown;
    bool jsonWithoutReport = false;
    bool appsWithoutReport = false;
    bool hoursWithoutReport = false;
    bool appsWithHours = false;
};

// `args` without the program's name. The toolkit's own options (-platform xcb, -session id, as
// a session manager restarts a program, ...) are let through for the window.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The short message for Mode::Bad, one line, ending in a newline.
std::string commandLineProblem(const CommandLine& line);

} // namespace tn
