#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tn {

// How the last write of a settings store ended: the file written (empty for a store without
// one) and, after a failure, the system's error code or that no regular file stands there.
struct StoreOutcome {
    std::filesystem::path file;
    int error = 0;
    bool notRegular = false;
};

// Where the settings live: an INI file on Linux, the registry on Windows.
// Getters return empty when the key is absent or cannot be read as the asked kind.
class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    virtual std::optional<std::int64_t> getInt(const std::string& key) const = 0;
    virtual std::optional<std::string> getString(const std::string& key) const = 0;
    virtual std::optional<std::vector<std::uint8_t>> getBinary(const std::string& key) const = 0;
    // Each write reaches the disk before it returns; false when it could not be stored.
    virtual bool setInt(const std::string& key, std::int64_t value) = 0;
    virtual bool setString(const std::string& key, const std::string& value) = 0;
    virtual bool setBinary(const std::string& key, const std::vector<std::uint8_t>& value) = 0;
    virtual StoreOutcome lastStore() const { return {}; }
};

} // namespace tn
