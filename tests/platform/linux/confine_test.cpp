// The capture helper's system-call filter: the loop's calls go on, anything else ends the
// process at once.
#include "capture_helper/confine.h"

#include <gtest/gtest.h>
#include <linux/if_packet.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tn {
namespace {

// Runs `act` in a child after confining it; how the child ended ("exit N" or "signal N").
std::string confinedRun(const std::function<int()>& act) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) != 0)
        return "no socket pair";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(sv[0]);
        // A second thread, as the helper's listener: the filter must hold on it too.
        std::thread other([fd = sv[1]] {
            char c;
            [[maybe_unused]] const ssize_t n = ::recv(fd, &c, 1, 0);
        });
        if (!helper::confineToCaptureLoop())
            ::_exit(99);
        const int rc = act();
        ::shutdown(sv[1], SHUT_RDWR);
        other.join();
        ::_exit(rc);
    }
    ::close(sv[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(sv[0]);
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "exit " + std::to_string(WEXITSTATUS(status));
}

TEST(CaptureConfinement, TheLoopsCallsGoOn_AnyOtherEndsTheHelper) {
    if (helper::confinementSkipped())
        GTEST_SKIP() << "sanitizer builds run the helper unconfined";
    const std::string killed = "signal " + std::to_string(SIGSYS);
    struct Case {
        const char* what;
        std::function<int()> act;
        std::string ending;
    };
    const std::vector<Case> cases = {
        {"waits, sleeps, allocates and writes",
         [] {
             pollfd none{-1, 0, 0};
             ::poll(&none, 1, 1);
             std::this_thread::sleep_for(std::chrono::milliseconds(1));
             std::vector<char> big(1 << 22, 'x'); // through mmap
             return ::write(2, "", 0) == 0 && big.back() == 'x' ? 0 : 1;
         },
         "exit 0"},
        {"opens a file: refused, not ended",
         [] { return ::open("/etc/hostname", O_RDONLY) < 0 && errno == EACCES ? 7 : 1; }, "exit 7"},
        {"opens a socket", [] { return ::socket(AF_INET, SOCK_RAW, 1); }, killed},
        // Under load the capture sets up and frees its large ring and moves the frames.
        {"changes the ring and the group's program",
         [] {
             const int zero = 0;
             return ::setsockopt(-1, SOL_PACKET, PACKET_RX_RING, &zero, sizeof zero) < 0 &&
                            ::setsockopt(-1, SOL_PACKET, PACKET_FANOUT_DATA, &zero, sizeof zero) <
                                0 &&
                            errno == EBADF
                        ? 0
                        : 1;
         },
         "exit 0"},
        {"sets any other socket option",
         [] {
             const int zero = 0;
             return ::setsockopt(-1, SOL_SOCKET, SO_DETACH_FILTER, &zero, sizeof zero);
         },
         killed},
        {"runs a program",
         [] {
             char* argv[] = {nullptr};
             return ::execve("/bin/true", argv, argv);
         },
         killed},
        {"maps executable memory",
         [] {
             void* p =
                 ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
             return p == MAP_FAILED ? 1 : 0;
         },
         killed},
        {"starts a thread",
         [] {
             std::thread t([] {});
             t.join();
             return 0;
         },
         killed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(confinedRun(c.act), c.ending) << c.what;
}

} // namespace
} // namespace tn
