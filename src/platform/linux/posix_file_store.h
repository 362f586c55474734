#pragma once
#include "platform/file_store.h"

#include <functional>
#include <string_view>
#include <sys/types.h>

namespace tn {

// The system call that writes file content; a test substitutes one that fails part-way.
using WriteCall = std::function<ssize_t(int fd, const void* data, std::size_t size)>;

// Files on a POSIX system: the temporary file is synced before the rename and the folder after
// it, so a power cut cannot leave an empty file under the real name.
class PosixFileStore final : public IFileStore {
public:
    explicit PosixFileStore(WriteCall write = {}) : m_write(std::move(write)) {}
    // Files directly in `folder` are read and written only while it is a real folder of this
    // user's (not a link, not someone else's): otherwise every operation on them fails with
    // ENOTDIR, and the program counts in memory and says why.
    void guardFolder(std::filesystem::path folder) { m_guarded = std::move(folder); }
    ReadStatus read(const std::filesystem::path& file, std::size_t maxBytes,
                    std::vector<std::uint8_t>& out) override;
    ReplaceResult replace(const std::filesystem::path& target, const std::filesystem::path& backup,
                          std::span<const std::uint8_t> bytes) override;
    AppendResult append(const std::filesystem::path& file,
                        std::span<const std::uint8_t> record) override;
    SetAsideResult setAside(const std::filesystem::path& file, const std::string& stamp,
                            std::size_t keep) override;
    std::optional<std::uintmax_t> size(const std::filesystem::path& file) override;

private:
    bool refused(const std::filesystem::path& file) const;

    WriteCall m_write;
    std::filesystem::path m_guarded;
};

// The same routine for the platform's own text files (settings, start-up entry).
bool replaceTextFile(const std::filesystem::path& file, std::string_view content);

} // namespace tn
