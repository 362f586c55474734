#include "platform/linux/file_util.h"

#include "platform/linux/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace tn {

std::optional<std::string> readWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return ss.str();
}

namespace {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

bool replaceFileDurably(const std::filesystem::path& file, std::string_view content) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const std::filesystem::path tmp = file.string() + ".tmp";
    {
        UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (fd.get() < 0)
            return false;
        if (!writeAll(fd.get(), content) || ::fsync(fd.get()) != 0) {
            std::filesystem::remove(tmp, ec);
            return false;
        }
        if (::close(fd.release()) != 0) {
            std::filesystem::remove(tmp, ec);
            return false;
        }
    }
    if (::rename(tmp.c_str(), file.c_str()) != 0) {
        std::filesystem::remove(tmp, ec);
        return false;
    }
    UniqueFd dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

} // namespace tn
