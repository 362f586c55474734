#pragma once
#include "app/ini_file.h"

#include <filesystem>

namespace tn {

// The settings as an INI file with one group, [SetariGenerale], replaced durably on each write.
class IniSettingsStore final : public IniTextStore {
public:
    IniSettingsStore(std::filesystem::path file, std::string section);
    const std::filesystem::path& file() const { return m_file; }
    StoreOutcome lastStore() const override { return m_last; }

protected:
    Load loadText(std::string& text) const override;
    bool storeText(const std::string& text) override;
    bool keepUnreadable() override;

private:
    std::filesystem::path m_file;
    mutable StoreOutcome m_last; // a read that finds no regular file ends the write too
};

} // namespace tn
