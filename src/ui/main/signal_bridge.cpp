#include "ui/main/signal_bridge.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace tn::ui {

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int sig) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

std::function<void()>& hookSlot() {
    static std::function<void()> hook;
    return hook;
}

bool g_hookArmed = false;

extern "C" void onExit() {
    if (!g_hookArmed)
        return;
    g_hookArmed = false;
    if (auto& hook = hookSlot())
        hook();
    std::_Exit(0); // the statistics are saved; the toolkit's exit code would report a failure
}

} // namespace

CSignalBridge::CSignalBridge(QObject* parent) : QObject(parent) {
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CSignalBridge::readPipe);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    // When the display goes away at the end of the session, a write to its socket must fail
    // with EPIPE (and lead to the orderly shutdown), not kill the process before the save.
    ::signal(SIGPIPE, SIG_IGN);
}

CSignalBridge::~CSignalBridge() {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

void CSignalBridge::readPipe() {
    unsigned char byte = 0;
    if (::read(g_pipe[0], &byte, 1) == 1)
        emit terminationRequested(byte);
}

void setEmergencyExitHook(std::function<void()> hook) {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(onExit); });
    hookSlot() = std::move(hook);
    g_hookArmed = true;
}

void clearEmergencyExitHook() {
    g_hookArmed = false;
    hookSlot() = nullptr;
}

} // namespace tn::ui
