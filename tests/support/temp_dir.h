#pragma once
#include "platform/paths.h"

#include <filesystem>
#include <random>
#include <string>

namespace tn::test {

// A fresh folder under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("tallynet-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// All program folders inside one temporary folder.
class TempPaths final : public IPaths {
public:
    explicit TempPaths(const std::filesystem::path& root) : m_root(root) {}
    std::filesystem::path dataDirectory() const override {
        std::filesystem::create_directories(m_root / "data");
        return m_root / "data";
    }
    std::filesystem::path configDirectory() const override { return m_root / "config"; }
    std::filesystem::path runtimeDirectory() const override { return m_root / "run"; }
    std::filesystem::path executablePath() const override { return "/opt/tallynet/bin/tallynet"; }

private:
    std::filesystem::path m_root;
};

} // namespace tn::test
