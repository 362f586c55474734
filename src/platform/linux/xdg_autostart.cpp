#include "platform/linux/xdg_autostart.h"

#include "platform/linux/posix_file_store.h"

#include <system_error>

namespace tn {

XdgAutostart::XdgAutostart(std::filesystem::path entryFile, std::filesystem::path executable)
    : m_entry(std::move(entryFile)), m_exe(std::move(executable)) {}

std::string XdgAutostart::desktopEntry(const std::filesystem::path& executable) {
    // Exec quoting of the desktop-entry format: the path in double quotes, with quote, backtick,
    // dollar and backslash
    // escaped, so a path with blanks still starts the right file.
    std::string quoted = "\"";
    for (char c : executable.string()) {
        if (c == '\\')
            quoted += "\\\\\\\\"; // escaped for Exec, then again for the string value
        else if (c == '"' || c == '`' || c == '$')
            quoted += std::string("\\\\") + c;
        else
            quoted += c;
    }
    quoted += '"';
    // TryExec: once the program is removed the session skips the entry instead of failing to
    // start it at every log-in. A plain string value: only the string escapes apply.
    std::string path;
    for (char c : executable.string()) {
        if (c == '\\')
            path += "\\\\";
        else if (c == '\n')
            path += "\\n";
        else
            path += c;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tallynet\n"
           "Comment=Network traffic meter\n"
           "TryExec=" +
           path + "\nExec=" + quoted +
           "\n"
           "Icon=tallynet\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool XdgAutostart::set(bool on) {
    std::error_code ec;
    if (!on) {
        std::filesystem::remove(m_entry, ec); // a missing entry is not an error
        return !ec;
    }
    if (m_exe.empty() || !m_exe.is_absolute())
        return false;
    return replaceTextFile(m_entry, desktopEntry(m_exe));
}

bool XdgAutostart::isSet() const {
    std::error_code ec;
    return std::filesystem::exists(m_entry, ec);
}

} // namespace tn
