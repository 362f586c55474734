#pragma once
#include "platform/autostart.h"

#include <filesystem>

namespace tn {

// $XDG_CONFIG_HOME/autostart/TallynetStartUp.desktop, started by the desktop at log-in.
class XdgAutostart final : public IAutostart {
public:
    XdgAutostart(std::filesystem::path entryFile, std::filesystem::path executable);
    bool set(bool on) override;
    bool isSet() const override;
    static std::string desktopEntry(const std::filesystem::path& executable);

private:
    std::filesystem::path m_entry;
    std::filesystem::path m_exe;
};

} // namespace tn
