#include "platform/linux/linux_paths.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tn {

namespace {

std::filesystem::path home() {
    if (const char* h = std::getenv("HOME"); h && *h)
        return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

// An XDG variable counts only when it holds an absolute path.
std::filesystem::path xdg(const char* var, const char* fallback) {
    if (const char* v = std::getenv(var); v && *v == '/')
        return v;
    return home() / fallback;
}

} // namespace

std::filesystem::path LinuxPaths::xdgConfigHome() {
    return xdg("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path LinuxPaths::dataDirectoryPath() const {
    return xdg("XDG_DATA_HOME", ".local/share") / "Tallynet";
}

std::filesystem::path LinuxPaths::dataDirectory() const {
    const auto dir = dataDirectoryPath();
    std::error_code ec;
    std::filesystem::create_directories(dir.parent_path(), ec);
    // The traffic history is the user's own: the folder is private, also when an older version
    // made it readable by everyone.
    if (::mkdir(dir.c_str(), 0700) != 0) {
        struct stat st {};
        if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
            (st.st_mode & 077) != 0)
            ::chmod(dir.c_str(), 0700);
    }
    // Not a real folder of the user's (a link, perhaps into someone else's world-writable
    // folder): the file store writes nothing there (PosixFileStore::guardFolder).
    return dir;
}

std::filesystem::path LinuxPaths::configDirectory() const {
    return xdgConfigHome() / "Tallynet";
}

bool isOwnFolder(const std::filesystem::path& dir) {
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

std::filesystem::path LinuxPaths::runtimeDirectory() const {
    // One copy per user, whatever the environment says: the user's own runtime folder first
    // (sudo -u and some session managers leave XDG_RUNTIME_DIR unset or pointing elsewhere).
    const std::filesystem::path own = "/run/user/" + std::to_string(::geteuid());
    if (isOwnFolder(own))
        return own;
    if (const char* v = std::getenv("XDG_RUNTIME_DIR"); v && *v == '/' && isOwnFolder(v))
        return v;
    return dataDirectory();
}

std::filesystem::path LinuxPaths::executablePath() const {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : p;
}

} // namespace tn
