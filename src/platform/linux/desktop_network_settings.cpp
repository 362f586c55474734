#include "platform/linux/desktop_network_settings.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tn {

namespace {

const std::vector<std::vector<std::string>> kCandidates = {
    {"nm-connection-editor"},
    {"gnome-control-center", "network"},
    {"systemsettings", "kcm_networkmanagement"},
};

std::string findExecutable(const std::string& name, const std::string& searchPath) {
    std::istringstream folders(searchPath);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue; // an empty entry would mean the current folder: never run from there
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

} // namespace

std::vector<std::string> DesktopNetworkSettings::command(const std::string& searchPath) {
    for (const auto& c : kCandidates) {
        const std::string exe = findExecutable(c.front(), searchPath);
        if (exe.empty())
            continue;
        std::vector<std::string> cmd = c;
        cmd.front() = exe;
        return cmd;
    }
    return {};
}

bool DesktopNetworkSettings::open() {
    const char* path = std::getenv("PATH");
    std::vector<std::string> cmd = command(path ? path : "");
    if (cmd.empty())
        return false;
    std::vector<char*> argv;
    for (std::string& a : cmd)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // Twice forked: the settings window belongs to init, not to us, and leaves no zombie. Only
    // async-signal-safe calls between fork and exec, since other threads are running.
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (::fork() == 0) {
            ::setsid();
            ::execv(argv[0], argv.data());
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

} // namespace tn
