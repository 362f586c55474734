#pragma once
#include "platform/settings_store.h"

#include <filesystem>

namespace tn {

// The settings as an INI file with one group, [SetariGenerale]. Every write re-reads the file
// (so hand edits of other keys survive), changes one key and replaces the file durably.
class IniSettingsStore final : public ISettingsStore {
public:
    IniSettingsStore(std::filesystem::path file, std::string section);

    std::optional<std::int64_t> getInt(const std::string& key) const override;
    std::optional<std::string> getString(const std::string& key) const override;
    std::optional<std::vector<std::uint8_t>> getBinary(const std::string& key) const override;
    bool setInt(const std::string& key, std::int64_t value) override;
    bool setString(const std::string& key, const std::string& value) override;
    bool setBinary(const std::string& key, const std::vector<std::uint8_t>& value) override;

    const std::filesystem::path& file() const { return m_file; }

private:
    std::optional<std::string> raw(const std::string& key) const;
    bool setRaw(const std::string& key, const std::string& value);

    std::filesystem::path m_file;
    std::string m_section;
};

} // namespace tn
