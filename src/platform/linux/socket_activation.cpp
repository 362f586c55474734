#include "platform/linux/socket_activation.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tn {

namespace {

// False when the path does not fit a socket address.
bool socketAddress(const std::filesystem::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

} // namespace

SocketActivation::SocketActivation(std::filesystem::path socketFile)
    : m_path(std::move(socketFile)) {}

SocketActivation::~SocketActivation() {
    stop();
}

bool SocketActivation::listen(std::function<void()> onShow) {
    if (m_thread.joinable())
        return true;
    sockaddr_un address;
    if (!socketAddress(m_path, address))
        return false;
    // Only a socket is replaced; anything else at the name (a file, a link) is left alone.
    struct stat st;
    if (::lstat(m_path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || ::unlink(m_path.c_str()) != 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0)
        return false;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    // The folder is ours alone already; the peer's user is checked on every connection too.
    ::chmod(m_path.c_str(), 0600);
    if (::listen(fd.get(), 4) != 0)
        return false;
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0)
        return false;
    m_listener = std::move(fd);
    m_wake = std::move(wake);
    m_thread = std::thread([this, show = std::move(onShow)]() mutable { serve(std::move(show)); });
    return true;
}

void SocketActivation::serve(std::function<void()> onShow) {
    for (;;) {
        pollfd fds[2] = {{m_listener.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        UniqueFd peer(::accept4(m_listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (peer.get() < 0)
            continue;
        ucred cred{};
        socklen_t len = sizeof cred;
        if (::getsockopt(peer.get(), SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 &&
            cred.uid == ::getuid() && onShow)
            onShow();
    }
}

void SocketActivation::stop() {
    if (!m_thread.joinable())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake.get(), &one, sizeof one);
    m_thread.join();
    m_listener = UniqueFd();
    m_wake = UniqueFd();
    ::unlink(m_path.c_str());
}

bool SocketActivation::requestShow() {
    sockaddr_un address;
    if (!socketAddress(m_path, address))
        return false;
    // Non-blocking: a running copy that is stuck and no longer accepts must not hold this one.
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0)
        return false;
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    return rc == 0; // the connection itself is the request
}

} // namespace tn
