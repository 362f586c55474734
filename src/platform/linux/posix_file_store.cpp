#include "platform/linux/posix_file_store.h"

#include "platform/linux/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tn {

namespace {

bool writeAll(const WriteCall& write, int fd, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const ssize_t n =
            write ? write(fd, data.data(), data.size()) : ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

bool present(const std::filesystem::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0;
}

} // namespace

ReadStatus PosixFileStore::read(const std::filesystem::path& file, std::size_t maxBytes,
                                std::vector<std::uint8_t>& out) {
    out.clear();
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return ReadStatus::Missing;
    std::uint8_t buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadStatus::Missing;
        if (n == 0)
            return ReadStatus::Ok;
        if (out.size() + static_cast<std::size_t>(n) > maxBytes)
            return ReadStatus::TooLarge;
        out.insert(out.end(), buf, buf + n);
    }
}

bool PosixFileStore::replace(const std::filesystem::path& target,
                             const std::filesystem::path& backup,
                             std::span<const std::uint8_t> bytes) {
    std::error_code ec;
    const std::filesystem::path folder = target.parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    std::filesystem::path temp = target;
    temp += ".new";
    {
        UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        const bool written = fd.get() >= 0 && writeAll(m_write, fd.get(), bytes) &&
                             ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
        if (!written) {
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    // From here on one complete copy always carries a name that the load looks for.
    bool renamed = false;
    if (backup.empty()) {
        renamed = ::rename(temp.c_str(), target.c_str()) == 0;
    } else if (present(target)) {
        ::rename(target.c_str(), backup.c_str());
        renamed = ::rename(temp.c_str(), target.c_str()) == 0;
    } else {
        // Only the backup holds data: it may go only once the new file carries the name.
        renamed = ::rename(temp.c_str(), target.c_str()) == 0;
        if (renamed)
            std::filesystem::remove(backup, ec);
    }
    if (!renamed) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    syncFolder(folder.empty() ? std::filesystem::path(".") : folder);
    return true;
}

AppendResult PosixFileStore::append(const std::filesystem::path& file,
                                    std::span<const std::uint8_t> record) {
    UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return {AppendStatus::NotOpened, errno};
    struct stat st {};
    const off_t oldSize = ::fstat(fd.get(), &st) == 0 ? st.st_size : 0;
    // One write of its own; should the disk fill half-way, the file is cut back so that it
    // never holds part of a record.
    const ssize_t n = m_write ? m_write(fd.get(), record.data(), record.size())
                              : ::write(fd.get(), record.data(), record.size());
    if (n != static_cast<ssize_t>(record.size())) {
        const int error = n < 0 ? errno : ENOSPC;
        [[maybe_unused]] const int cut = ::ftruncate(fd.get(), oldSize);
        return {AppendStatus::WriteFailed, error};
    }
    if (::close(fd.release()) != 0)
        return {AppendStatus::WriteFailed, errno};
    return {};
}

bool replaceTextFile(const std::filesystem::path& file, std::string_view content) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(content.data());
    return PosixFileStore().replace(file, {}, {data, content.size()});
}

} // namespace tn
