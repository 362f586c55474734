#include "platform/linux/ini_settings_store.h"

#include "platform/linux/posix_file_store.h"

#include <cerrno>
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
        m_last = {m_file, EINVAL, true};
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
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    const ReplaceResult result = PosixFileStore().replace(m_file, {}, {data, text.size()});
    m_last = {m_file, result.error, result.status == ReplaceStatus::NotRegular};
    return static_cast<bool>(result);
}

bool IniSettingsStore::keepUnreadable() {
    // Never overwrite what we cannot read: keep it beside the new file for the user.
    std::error_code ec;
    std::filesystem::rename(m_file, m_file.string() + ".unreadable", ec);
    if (ec)
        m_last = {m_file, ec.value(), false};
    return !ec;
}

} // namespace tn
