#include "platform/linux/flock_instance_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tn {

FlockInstanceLock::FlockInstanceLock(std::filesystem::path file) : m_path(std::move(file)) {}

FlockInstanceLock::~FlockInstanceLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FlockInstanceLock::tryAcquire() {
    if (m_held)
        return true;
    if (m_fd < 0) {
        std::error_code ec;
        std::filesystem::create_directories(m_path.parent_path(), ec);
        // Something other than a regular file at the name (a link, a folder, a device, a FIFO)
        // is not ours: it is taken away, never opened, so that it neither passes for another
        // copy nor makes us open a device. Removing a name never follows a link.
        // A folder that is not empty is not ours to empty: every copy then locks the same file
        // inside it instead.
        struct stat st {};
        if (::lstat(m_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            ::rmdir(m_path.c_str()) != 0)
            m_path /= "lock";
        if (::lstat(m_path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) &&
            (S_ISDIR(st.st_mode) ? ::rmdir(m_path.c_str()) : ::unlink(m_path.c_str())) != 0)
            return false;
        // O_CLOEXEC: programs started from the window (network settings) must not inherit it.
        // A link or a FIFO planted at the name meanwhile is neither followed nor waited on.
        m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(m_fd);
            m_fd = -1;
        }
        if (m_fd < 0)
            return false; // like a section that cannot be created: end as if another copy ran
    }
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    m_held = rc == 0;
    return m_held;
}

} // namespace tn
