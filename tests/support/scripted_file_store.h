#pragma once
// A file store that fails on command in front of the program's own one:
//
//   test::ScriptedFileStore files(*fake.services().files);
//   files.replaceError = ENOSPC;      // every replace fails with "No space left on device"
//   files.appendError = EROFS;        // every append fails as on a read-only disk
//   files.setAsideError = EACCES;     // files cannot be moved aside
//   os.files = &files;
//
// An error of 0 passes the call through to the real store.
#include "platform/file_store.h"

#include <string>

namespace tn::test {

class ScriptedFileStore final : public IFileStore {
public:
    explicit ScriptedFileStore(IFileStore& real) : m_real(real) {}
    int replaceError = 0;
    int appendError = 0;
    int setAsideError = 0;
    int replaces = 0; // calls that reached this store

    ReadStatus read(const std::filesystem::path& file, std::size_t maxBytes,
                    std::vector<std::uint8_t>& out) override {
        return m_real.read(file, maxBytes, out);
    }
    ReplaceResult replace(const std::filesystem::path& target, const std::filesystem::path& backup,
                          std::span<const std::uint8_t> bytes) override {
        ++replaces;
        if (replaceError != 0)
            return {ReplaceStatus::Failed, replaceError};
        return m_real.replace(target, backup, bytes);
    }
    AppendResult append(const std::filesystem::path& file,
                        std::span<const std::uint8_t> record) override {
        if (appendError != 0)
            return {AppendStatus::NotOpened, appendError};
        return m_real.append(file, record);
    }
    SetAsideResult setAside(const std::filesystem::path& file, const std::string& stamp,
                            std::size_t keep) override {
        if (setAsideError != 0)
            return {SetAsideStatus::Failed, {}, setAsideError};
        return m_real.setAside(file, stamp, keep);
    }
    std::optional<std::uintmax_t> size(const std::filesystem::path& file) override {
        return m_real.size(file);
    }

private:
    IFileStore& m_real;
};

} // namespace tn::test
