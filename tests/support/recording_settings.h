#pragma once
#include "platform/settings_store.h"

#include <map>
#include <string>
#include <vector>

namespace tn::test {

// A settings store in memory that keeps every write in order ("Key=value").
class RecordingSettings final : public ISettingsStore {
public:
    std::map<std::string, std::int64_t> ints;
    std::map<std::string, std::string> strings;
    std::vector<std::string> writes;

    std::optional<std::int64_t> getInt(const std::string& key) const override {
        const auto it = ints.find(key);
        return it == ints.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
    }
    std::optional<std::string> getString(const std::string& key) const override {
        const auto it = strings.find(key);
        return it == strings.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    std::optional<std::vector<std::uint8_t>> getBinary(const std::string&) const override {
        return std::nullopt;
    }
    bool setInt(const std::string& key, std::int64_t value) override {
        ints[key] = value;
        writes.push_back(key + "=" + std::to_string(value));
        return true;
    }
    bool setString(const std::string& key, const std::string& value) override {
        strings[key] = value;
        writes.push_back(key + "=" + value);
        return true;
    }
    bool setBinary(const std::string& key, const std::vector<std::uint8_t>&) override {
        writes.push_back(key + "=<binary>");
        return true;
    }
};

} // namespace tn::test
