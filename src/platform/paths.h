#pragma once
#include <filesystem>

namespace tn {

// The file locations of the program.
class IPaths {
public:
    virtual ~IPaths() = default;
    // Folder of stat.dat, stat.bak, NetFalls.dat and TN.log; created when missing.
    virtual std::filesystem::path dataDirectory() const = 0;
    // The same folder, without creating or changing anything (for readers such as the report).
    virtual std::filesystem::path dataDirectoryPath() const { return dataDirectory(); }
    // Folder of the settings file.
    virtual std::filesystem::path configDirectory() const = 0;
    // Folder for the single-instance lock.
    virtual std::filesystem::path runtimeDirectory() const = 0;
    // Absolute path of the running executable (empty when unknown).
    virtual std::filesystem::path executablePath() const = 0;
};

} // namespace tn
