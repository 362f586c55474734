#include "platform/linux/posix_file_store.h"

#include "platform/linux/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
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
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

enum class Kind { Missing, Regular, Other };

// What stands at a name, without following a link.
Kind kindAt(const std::filesystem::path& file) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        return errno == ENOENT ? Kind::Missing : Kind::Other;
    return S_ISREG(st.st_mode) ? Kind::Regular : Kind::Other;
}

// Opens a file of ours: never through a link, never waiting on a FIFO or a device, a regular
// file only (the descriptor is closed otherwise and `notRegular` set). Group and other users
// lose their access: the history is the user's own.
UniqueFd openOurs(const std::filesystem::path& file, int flags, bool& notRegular) {
    notRegular = false;
    UniqueFd fd(::open(file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        notRegular = errno == ELOOP || errno == EISDIR || errno == ENXIO;
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return UniqueFd();
    if (!S_ISREG(st.st_mode)) {
        notRegular = true;
        errno = EINVAL;
        return UniqueFd();
    }
    if ((st.st_mode & 077) != 0 && (flags & O_ACCMODE) != O_RDONLY)
        ::fchmod(fd.get(), st.st_mode & 0700);
    return fd;
}

} // namespace

bool PosixFileStore::refused(const std::filesystem::path& file) const {
    if (m_guarded.empty() || file.parent_path() != m_guarded)
        return false;
    struct stat st {};
    if (::lstat(m_guarded.c_str(), &st) != 0)
        return false; // missing: made by the writer, as a real folder
    if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
        return false;
    errno = ENOTDIR;
    return true;
}

ReadStatus PosixFileStore::read(const std::filesystem::path& file, std::size_t maxBytes,
                                std::vector<std::uint8_t>& out) {
    out.clear();
    if (refused(file))
        return ReadStatus::Failed;
    bool notRegular = false;
    UniqueFd fd = openOurs(file, O_RDONLY, notRegular);
    if (fd.get() < 0)
        return notRegular        ? ReadStatus::NotRegular
               : errno == ENOENT ? ReadStatus::Missing
                                 : ReadStatus::Failed;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && static_cast<std::uintmax_t>(st.st_size) > maxBytes)
        return ReadStatus::TooLarge;
    std::uint8_t buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadStatus::Failed;
        if (n == 0)
            return ReadStatus::Ok;
        if (out.size() + static_cast<std::size_t>(n) > maxBytes)
            return ReadStatus::TooLarge; // it grew while we read
        out.insert(out.end(), buf, buf + n);
    }
}

ReplaceResult PosixFileStore::replace(const std::filesystem::path& target,
                                      const std::filesystem::path& backup,
                                      std::span<const std::uint8_t> bytes) {
    if (refused(target))
        return {ReplaceStatus::Failed, ENOTDIR};
    const Kind was = kindAt(target);
    if (was == Kind::Other)
        return {ReplaceStatus::NotRegular, EINVAL};
    std::error_code ec;
    const std::filesystem::path folder = target.parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    std::filesystem::path temp = target;
    temp += ".new";
    // A temporary file is always created anew: whatever stands at its name (a leftover, or a
    // link planted there) is removed first, and removing never follows a link.
    if (kindAt(temp) != Kind::Missing && ::unlink(temp.c_str()) != 0)
        return {ReplaceStatus::NotRegular, errno};
    {
        UniqueFd fd(
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        const bool written = fd.get() >= 0 && writeAll(m_write, fd.get(), bytes) &&
                             ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
        if (!written) {
            const int error = errno;
            if (fd.get() >= 0 || kindAt(temp) == Kind::Regular)
                ::unlink(temp.c_str());
            return {ReplaceStatus::Failed, error};
        }
    }
    // From here on one complete copy always carries a name that the load looks for.
    bool renamed = false;
    if (backup.empty()) {
        renamed = ::rename(temp.c_str(), target.c_str()) == 0;
    } else if (was == Kind::Regular) {
        ::rename(target.c_str(), backup.c_str());
        renamed = ::rename(temp.c_str(), target.c_str()) == 0;
    } else {
        // Only the backup holds data: it may go only once the new file carries the name.
        renamed = ::rename(temp.c_str(), target.c_str()) == 0;
        if (renamed)
            std::filesystem::remove(backup, ec);
    }
    if (!renamed) {
        const int error = errno;
        ::unlink(temp.c_str());
        return {ReplaceStatus::Failed, error};
    }
    syncFolder(folder.empty() ? std::filesystem::path(".") : folder);
    return {};
}

AppendResult PosixFileStore::append(const std::filesystem::path& file,
                                    std::span<const std::uint8_t> record) {
    if (refused(file))
        return {AppendStatus::NotOpened, ENOTDIR};
    bool notRegular = false;
    UniqueFd fd = openOurs(file, O_WRONLY | O_APPEND | O_CREAT, notRegular);
    if (fd.get() < 0)
        return {notRegular ? AppendStatus::NotRegular : AppendStatus::NotOpened, errno};
    struct stat st {};
    const off_t oldSize = ::fstat(fd.get(), &st) == 0 ? st.st_size : 0;
    // One write of its own; should the disk fill half-way, the file is cut back so that it
    // never holds part of a record.
    const ssize_t n = m_write ? m_write(fd.get(), record.data(), record.size())
                              : ::write(fd.get(), record.data(), record.size());
    if (n != static_cast<ssize_t>(record.size()) || ::fsync(fd.get()) != 0) {
        const int error = n < 0 || n == static_cast<ssize_t>(record.size()) ? errno : ENOSPC;
        [[maybe_unused]] const int cut = ::ftruncate(fd.get(), oldSize);
        return {AppendStatus::WriteFailed, error};
    }
    if (::close(fd.release()) != 0)
        return {AppendStatus::WriteFailed, errno};
    return {};
}

namespace {

// Deletes all but the newest `keep` regular files set aside from `base` in `dir`; the stamps
// sort by time, so the names do too.
void pruneSetAside(int dir, const std::string& base, std::size_t keep) {
    const int scan = ::dup(dir);
    if (scan < 0)
        return;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::fdopendir(scan), ::closedir);
    if (!d) {
        ::close(scan);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d.get())) {
        if (!isSetAsideName(e->d_name, base))
            continue;
        struct stat st {};
        if (::fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(e->d_name);
    }
    if (names.size() <= keep)
        return;
    std::sort(names.begin(), names.end(), std::greater<>());
    for (std::size_t i = keep; i < names.size(); ++i)
        ::unlinkat(dir, names[i].c_str(), 0); // removes the name itself, never a link's target
}

} // namespace

SetAsideResult PosixFileStore::setAside(const std::filesystem::path& file, const std::string& stamp,
                                        std::size_t keep) {
    if (refused(file))
        return {SetAsideStatus::Failed, {}, ENOTDIR};
    const std::filesystem::path folder =
        file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
    const std::string base = file.filename().string();
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return {errno == ENOENT ? SetAsideStatus::Missing : SetAsideStatus::Failed, {}, errno};
    struct stat st {};
    if (::fstatat(dir.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {errno == ENOENT ? SetAsideStatus::Missing : SetAsideStatus::Failed, {}, errno};
    if (!S_ISREG(st.st_mode))
        return {SetAsideStatus::NotRegular, {}, EINVAL};
    // The name itself is renamed (a rename never follows a link) and an existing file of the
    // new name is never replaced: a clash within the same second takes the next free suffix.
    std::string aside = base + kBadFileInfix + stamp;
    for (int n = 2;; ++n) {
        if (::renameat2(dir.get(), base.c_str(), dir.get(), aside.c_str(), RENAME_NOREPLACE) == 0)
            break;
        if (errno != EEXIST || n > 100)
            return {errno == ENOENT ? SetAsideStatus::Missing : SetAsideStatus::Failed, {}, errno};
        aside = base + kBadFileInfix + stamp + "-" + std::to_string(n);
    }
    ::fsync(dir.get());
    pruneSetAside(dir.get(), base, keep);
    return {SetAsideStatus::Moved, folder / aside, 0};
}

std::optional<std::uintmax_t> PosixFileStore::size(const std::filesystem::path& file) {
    if (refused(file))
        return std::nullopt;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::uintmax_t>(st.st_size);
}

bool replaceTextFile(const std::filesystem::path& file, std::string_view content) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(content.data());
    return static_cast<bool>(PosixFileStore().replace(file, {}, {data, content.size()}));
}

} // namespace tn
