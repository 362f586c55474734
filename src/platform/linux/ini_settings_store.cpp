#include "platform/linux/ini_settings_store.h"

#include "platform/linux/posix_file_store.h"

#include <system_error>

namespace tn {

namespace {

// Settings are a few hundred bytes; a larger file is not ours to read into memory.
constexpr std::size_t kMaxSettingsBytes = 1024 * 1024;

} // namespace

IniSettingsStore::IniSettingsStore(std::filesystem::path file, std::string section)
    : IniTextStore(std::move(section)), m_file(std::move(file)) {}

IniTextStore::Load IniSettingsStore::loadText(std::string& text) const {
    std::vector<std::uint8_t> bytes;
    switch (PosixFileStore().read(m_file, kMaxSettingsBytes, bytes)) {
    case ReadStatus::Missing:
        return Load::Missing;
    case ReadStatus::NotRegular:
        return Load::Foreign;
    case ReadStatus::TooLarge:
    case ReadStatus::Failed:
        return Load::Unreadable;
    case ReadStatus::Ok:
        break;
    }
    text.assign(bytes.begin(), bytes.end());
    return Load::Ok;
}

bool IniSettingsStore::storeText(const std::string& text) {
    return replaceTextFile(m_file, text);
}

bool IniSettingsStore::keepUnreadable() {
    // Never overwrite what we cannot read: keep it beside the new file for the user.
    std::error_code ec;
    std::filesystem::rename(m_file, m_file.string() + ".unreadable", ec);
    return !ec;
}

} // namespace tn
