#pragma once
#include "platform/session_events.h"

#include <string>
#include <vector>

namespace tn {

// The desktop's network settings: the first of NetworkManager's connection editor, GNOME's and
// KDE's settings that is on the PATH, started detached so that it outlives nothing of ours.
class DesktopNetworkSettings final : public INetworkSettings {
public:
    bool open() override;
    // The command that open() would run (program path first); empty when none is installed.
    static std::vector<std::string> command(const std::string& searchPath);
};

} // namespace tn
