#include "platform/linux/signal_termination.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

namespace tn {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_writeEnd = -1; // one source per process: signal dispositions are process-wide

extern "C" void onSignal(int sig) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}

void setHandlers(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}

} // namespace

SignalTermination::~SignalTermination() {
    stop();
}

bool SignalTermination::start(std::function<void(int code)> onRequest) {
    if (g_writeEnd >= 0)
        return false;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    m_read = UniqueFd(pair[0]);
    ::fcntl(pair[1], F_SETFL, O_NONBLOCK);
    m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC));
    if (m_wake.get() < 0) {
        ::close(pair[1]);
        m_read = UniqueFd();
        return false;
    }
    g_writeEnd = pair[1];
    setHandlers(onSignal);
    // When the display goes away at the end of the session, a write to its socket must fail
    // with EPIPE (and lead to the orderly shutdown), not kill the process before the save.
    ::signal(SIGPIPE, SIG_IGN);
    m_watcher = std::jthread([this, onRequest = std::move(onRequest)] {
        pollfd fds[2] = {{m_read.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents != 0)
                return;
            unsigned char byte = 0;
            if (::read(m_read.get(), &byte, 1) == 1)
                onRequest(byte);
        }
    });
    return true;
}

void SignalTermination::stop() {
    if (!m_watcher.joinable())
        return;
    setHandlers(SIG_DFL);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake.get(), &one, sizeof one);
    m_watcher.join();
    ::close(g_writeEnd);
    g_writeEnd = -1;
    m_read = UniqueFd();
    m_wake = UniqueFd();
}

} // namespace tn
