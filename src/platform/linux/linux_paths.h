#pragma once
#include "platform/paths.h"

namespace tn {

// A folder that is the user's own: a real folder (not a link), owned by this process's user.
bool isOwnFolder(const std::filesystem::path& dir);

// XDG locations: $XDG_CONFIG_HOME/Tallynet, $XDG_DATA_HOME/Tallynet, $XDG_RUNTIME_DIR.
class LinuxPaths final : public IPaths {
public:
    std::filesystem::path dataDirectory() const override;
    std::filesystem::path dataDirectoryPath() const override;
    std::filesystem::path configDirectory() const override;
    std::filesystem::path runtimeDirectory() const override;
    std::filesystem::path executablePath() const override;
    // $XDG_CONFIG_HOME (default ~/.config).
    static std::filesystem::path xdgConfigHome();
};

} // namespace tn
