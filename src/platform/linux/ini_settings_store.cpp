#include "platform/linux/ini_settings_store.h"

#include "app/ini_file.h"
#include "platform/linux/file_util.h"

#include <system_error>

namespace tn {

IniSettingsStore::IniSettingsStore(std::filesystem::path file, std::string section)
    : m_file(std::move(file)), m_section(std::move(section)) {}

std::optional<std::string> IniSettingsStore::raw(const std::string& key) const {
    const auto text = readWholeFile(m_file);
    if (!text)
        return std::nullopt;
    const auto doc = IniDocument::parse(*text);
    if (!doc)
        return std::nullopt; // unreadable file: every key takes its default
    return doc->raw(m_section, key);
}

std::optional<std::int64_t> IniSettingsStore::getInt(const std::string& key) const {
    const auto r = raw(key);
    return r ? IniDocument::decodeInt(*r) : std::nullopt;
}

std::optional<std::string> IniSettingsStore::getString(const std::string& key) const {
    const auto r = raw(key);
    return r ? std::optional<std::string>(IniDocument::decodeString(*r)) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> IniSettingsStore::getBinary(const std::string& key) const {
    const auto r = raw(key);
    return r ? IniDocument::decodeBinary(*r) : std::nullopt;
}

bool IniSettingsStore::setRaw(const std::string& key, const std::string& value) {
    IniDocument doc = IniDocument::parse("").value();
    if (const auto text = readWholeFile(m_file)) {
        if (auto parsed = IniDocument::parse(*text)) {
            doc = std::move(*parsed);
        } else {
            // Never overwrite what we cannot read: keep it beside the new file for the user.
            std::error_code ec;
            std::filesystem::rename(m_file, m_file.string() + ".unreadable", ec);
            if (ec)
                return false;
        }
    }
    doc.setRaw(m_section, key, value);
    return replaceFileDurably(m_file, doc.serialize());
}

bool IniSettingsStore::setInt(const std::string& key, std::int64_t value) {
    return setRaw(key, std::to_string(value));
}

bool IniSettingsStore::setString(const std::string& key, const std::string& value) {
    return setRaw(key, IniDocument::encodeString(value));
}

bool IniSettingsStore::setBinary(const std::string& key, const std::vector<std::uint8_t>& value) {
    return setRaw(key, IniDocument::encodeBinary(value));
}

} // namespace tn
