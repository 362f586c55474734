// ICMP echo against hosts in network namespaces. Needs root; each test builds two namespaces,
// "prober" and "host", joined by a veth pair on 198.18.42.0/24 with no other route.
#include "platform/linux/helper_capture.h"
#include "platform/linux/linux_icmp.h"
#include "platform/linux/system_clock.h"
#include "platform/linux/unique_fd.h"
#include "stats/icmp_echo.h"
#include "stats/probe.h"
#include "support/silent_resolver.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <grp.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tn {
namespace {

constexpr const char* kProberAddress = "198.18.42.1";
constexpr const char* kHostAddress = "198.18.42.2";
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

bool sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The two namespaces of one test, removed (with their veth pair) when the object goes.
class NamespacePair {
public:
    NamespacePair() {
        static std::atomic<int> counter{0};
        const std::string base =
            "tnicmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
        prober = base + "p";
        host = base + "h";
        m_created = sh("ip netns add " + prober) && sh("ip netns add " + host);
        if (!m_created)
            return;
        // Both ends live inside the test's own namespaces, so fixed names cannot collide.
        const std::string vp = "tnprobe";
        const std::string vh = "tnhost";
        m_ready = sh("ip -n " + prober + " link add " + vp + " type veth peer name " + vh +
                     " netns " + host) &&
                  sh("ip -n " + prober + " addr add " + kProberAddress + "/24 dev " + vp) &&
                  sh("ip -n " + host + " addr add " + kHostAddress + "/24 dev " + vh) &&
                  sh("ip -n " + prober + " link set lo up") &&
                  sh("ip -n " + prober + " link set " + vp + " up") &&
                  sh("ip -n " + host + " link set " + vh + " up");
    }
    ~NamespacePair() {
        if (!prober.empty()) {
            sh("ip netns del " + prober);
            sh("ip netns del " + host);
        }
    }
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    bool ready() const { return m_created && m_ready; }
    bool sysctl(const std::string& ns, const std::string& key, const std::string& value) {
        const std::string file = "/proc/sys/net/ipv4/" + key;
        return sh("ip netns exec " + ns + " sh -c 'echo \"" + value + "\" > " + file +
                  " && test \"$(cat " + file + ")\" = \"" + value + "\"'");
    }

    std::string prober;
    std::string host;

private:
    bool m_created = false;
    bool m_ready = false;
};

// Runs body in a child process that has joined namespace ns (and, when asked, become
// nobody/nogroup), and returns what body returned.
std::string runInNamespace(const std::string& ns, bool unprivileged,
                           const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        ::close(fds[0]);
        std::string out;
        const int nsfd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (nsfd < 0 || ::setns(nsfd, CLONE_NEWNET) != 0)
            out = "setns failed";
        else if (unprivileged && (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 ||
                                  ::setuid(kNobody) != 0))
            out = "could not become nobody";
        else
            out = body();
        [[maybe_unused]] const ssize_t n = ::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status))
        return "child crashed";
    return out;
}

std::string dotted(const Ipv4Address& a) {
    return std::to_string(a.octets[0]) + "." + std::to_string(a.octets[1]) + "." +
           std::to_string(a.octets[2]) + "." + std::to_string(a.octets[3]);
}

// "ok <address> <rtt> raw|datagram" or "fail <code> <text>".
std::string echoOnce(const std::string& target, std::uint32_t timeoutMs) {
    LinuxIcmpFactory icmp;
    SystemClock clock;
    int openError = 0;
    const auto probeSocket = icmp.open(openError);
    if (!probeSocket)
        return "fail " + std::to_string(openError) + " cannot open";
    const std::string kind = probeSocket->receivesIpHeader() ? "raw" : "datagram";
    EchoParams p;
    p.host = target;
    p.timeoutMs = timeoutMs;
    EchoReply reply;
    EchoError error;
    if (!icmpEcho(icmp, clock, p, reply, error))
        return "fail " + std::to_string(error.code) + " " + error.text;
    return "ok " + dotted(reply.address) + " " + std::to_string(reply.rttMs) + " " + kind;
}

// The interactive probe through a worker, as the Test button runs it.
std::string interactiveProbe(const std::string& target) {
    LinuxIcmpFactory icmp;
    SystemClock clock;
    std::promise<std::string> text;
    CProbe probe(&icmp, clock);
    probe.start(target, false, [&](std::string t) { text.set_value(std::move(t)); });
    return text.get_future().get();
}

struct EchoOutcome {
    std::string status, address, kind;
    int rtt = -1;
};

EchoOutcome parse(const std::string& s) {
    std::istringstream in(s);
    EchoOutcome o;
    in >> o.status >> o.address >> o.rtt >> o.kind;
    return o;
}

class IcmpNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: creates network namespaces";
        net = std::make_unique<NamespacePair>();
        if (!net->ready())
            GTEST_SKIP() << "needs root with network namespaces: 'ip netns add' failed";
    }
    std::unique_ptr<NamespacePair> net;
};

TEST_F(IcmpNamespaceTest, HostAnswers_RawSocketGetsItsReply) {
    const std::string out = runInNamespace(net->prober, false, [] {
        return echoOnce(kHostAddress, 5000) + "|" + interactiveProbe(kHostAddress);
    });
    const auto bar = out.find('|');
    ASSERT_NE(bar, std::string::npos) << out;
    const EchoOutcome o = parse(out.substr(0, bar));
    ASSERT_EQ(o.status, "ok") << out;
    EXPECT_EQ(o.address, kHostAddress);
    EXPECT_EQ(o.kind, "raw");
    EXPECT_GE(o.rtt, 0);
    EXPECT_LT(o.rtt, 5000);
    const std::string text = out.substr(bar + 1);
    EXPECT_EQ(text.rfind("198.18.42.2 [198.18.42.2], replied in RTT:", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 4), "ms\n\r") << text;
}

TEST_F(IcmpNamespaceTest, LoopbackByName_OwnRequestIsNotTakenForAFailure) {
    // A raw socket sees the request to this machine before the reply.
    const EchoOutcome o =
        parse(runInNamespace(net->prober, false, [] { return echoOnce("localhost", 5000); }));
    ASSERT_EQ(o.status, "ok");
    EXPECT_EQ(o.address, "127.0.0.1");
}

TEST_F(IcmpNamespaceTest, HostDropsIcmp_TimesOut) {
    ASSERT_TRUE(net->sysctl(net->host, "icmp_echo_ignore_all", "1"));
    const std::string out =
        runInNamespace(net->prober, false, [] { return echoOnce(kHostAddress, 300); });
    EXPECT_EQ(out, "fail " + std::to_string(ETIMEDOUT) + " Connection timed out");
}

TEST_F(IcmpNamespaceTest, Unprivileged_UsesTheDatagramSocket) {
    ASSERT_TRUE(net->sysctl(net->prober, "ping_group_range", "0\t2147483647"));
    const std::string out = runInNamespace(net->prober, true, [] {
        // The test means something only if the raw socket is really refused.
        const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        if (raw >= 0) {
            ::close(raw);
            return std::string("raw socket was not refused");
        }
        return echoOnce(kHostAddress, 5000);
    });
    const EchoOutcome o = parse(out);
    ASSERT_EQ(o.status, "ok") << out;
    EXPECT_EQ(o.address, kHostAddress);
    EXPECT_EQ(o.kind, "datagram");
}

TEST_F(IcmpNamespaceTest, NeitherSocketAllowed_FailureTextNamesTheError) {
    ASSERT_TRUE(net->sysctl(net->prober, "ping_group_range", "1\t0"));
    const std::string text =
        runInNamespace(net->prober, true, [] { return interactiveProbe(kHostAddress); });
    EXPECT_EQ(text, "Failed in ping specified host, GetLastError returns: 1 \r\n"
                    "Operation not permitted");
}

// Runs body in a forked child and returns what it returned.
std::string runInChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t child = ::fork();
    if (child < 0)
        return "fork failed";
    if (child == 0) {
        ::close(fds[0]);
        const std::string out = body();
        [[maybe_unused]] const ssize_t n = ::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? out : "child crashed";
}

TEST(ProbeShutdown, ProbeInANameLookup_EndsBeforeTheResolverRetries) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: creates network and mount namespaces";
    const std::string out = runInChild([] {
        test::SilentResolver dns;
        if (!dns.enter(2, 3))
            return std::string("no silent resolver");
        LinuxIcmpFactory icmp;
        SystemClock clock;
        auto probe = std::make_unique<CProbe>(&icmp, clock);
        probe->start("silent.tallynet.test", true);
        if (!dns.takeQuery(10000))
            return std::string("the probe sent no query");
        // The exit destroys the probe; it must not wait for the lookup, whose next step is the
        // resolver's retry two seconds on.
        UniqueFd ended(::eventfd(0, EFD_CLOEXEC));
        std::thread exit([&] {
            probe.reset();
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(ended.get(), &one, sizeof one);
        });
        pollfd p[2] = {{ended.get(), POLLIN, 0}, {dns.fd(), POLLIN, 0}};
        const int n = ::poll(p, 2, 30000);
        exit.join();
        if (n > 0 && (p[0].revents & POLLIN) != 0)
            return std::string("ended");
        return std::string("the probe waited for the lookup");
    });
    EXPECT_EQ(out, "ended");
}

// The IP header fields of the echo requests that reach the host, as "df=D ttl=T tos=S" lines.
class RequestListener {
public:
    explicit RequestListener(const std::string& ns) {
        std::promise<bool> ready;
        auto started = ready.get_future();
        m_thread = std::thread([this, ns, &ready] {
            // setns changes only this thread; the socket stays in the host's namespace.
            const int nsfd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            const bool in = nsfd >= 0 && ::setns(nsfd, CLONE_NEWNET) == 0;
            if (nsfd >= 0)
                ::close(nsfd);
            const int fd = in ? ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) : -1;
            ready.set_value(fd >= 0);
            if (fd < 0)
                return;
            std::uint8_t buf[2048];
            while (!m_stop.load()) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n < 28 || buf[9] != IPPROTO_ICMP)
                    continue;
                const std::size_t h = 4u * (buf[0] & 0x0fu);
                if (static_cast<std::size_t>(n) < h + 8 || buf[h] != 8) // echo requests only
                    continue;
                std::lock_guard lock(m_mutex);
                m_seen.push_back("df=" + std::to_string((buf[6] & 0x40) != 0 ? 1 : 0) + " ttl=" +
                                 std::to_string(buf[8]) + " tos=" + std::to_string(buf[1]));
            }
            ::close(fd);
        });
        m_ok = started.get();
    }
    ~RequestListener() {
        m_stop.store(true);
        m_thread.join();
    }
    bool ok() const { return m_ok; }
    // What was seen once `count` requests were (or two seconds passed): the reply can reach
    // the prober before this thread has read the request's copy.
    std::vector<std::string> seen(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_seen.size() >= count || std::chrono::steady_clock::now() >= deadline)
                    return m_seen;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_ok = false;
    std::mutex m_mutex;
    std::vector<std::string> m_seen;
};

std::string echoWith(int dontFragment, int ttl, int tos) {
    LinuxIcmpFactory icmp;
    SystemClock clock;
    EchoParams p;
    p.host = kHostAddress;
    p.dontFragment = dontFragment;
    p.timeToLive = ttl;
    p.typeOfService = tos;
    EchoReply reply;
    EchoError error;
    return icmpEcho(icmp, clock, p, reply, error) ? "ok" : "fail " + error.text;
}

// ICMP sockets of this process whose descriptors are open now.
int icmpSocketsOpen() {
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(e.path().filename().c_str());
        int protocol = 0;
        socklen_t len = sizeof protocol;
        if (::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &len) == 0 &&
            protocol == IPPROTO_ICMP)
            ++count;
    }
    return count;
}

TEST_F(IcmpNamespaceTest, NeitherSocketAllowed_TheHelperSendsTheEchoWithItsOptions) {
    ASSERT_TRUE(net->sysctl(net->prober, "ping_group_range", "1\t0"));
    test::TempDir dir;
    namespace fs = std::filesystem;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    // Installed as the package installs it: the probe's user is a member of the file's group.
    const fs::path helper = dir / "tallynet-capture";
    fs::copy_file(TALLYNET_CAPTURE_HELPER, helper);
    ASSERT_EQ(::chown(helper.c_str(), 0, kNoGroup), 0);
    ASSERT_EQ(::chmod(helper.c_str(), 0750), 0);
    if (!sh("setcap " + std::string(kHelperCapabilities) + " " + helper.string()))
        GTEST_SKIP() << "this file system takes no file capabilities";
    RequestListener listener(net->host);
    ASSERT_TRUE(listener.ok());
    const std::string out = runInNamespace(net->prober, true, [&helper] {
        const int inherited = icmpSocketsOpen(); // the listener's, from before the fork
        LinuxIcmpFactory icmp([helper] { return helper; });
        int openError = 0;
        const auto probeSocket = icmp.open(openError);
        if (!probeSocket)
            return "fail " + std::to_string(openError);
        SystemClock clock;
        EchoParams p;
        p.host = kHostAddress;
        p.dontFragment = 1;
        p.timeToLive = 7;
        p.typeOfService = 0x10;
        EchoReply reply;
        EchoError error;
        const bool ok = icmpEcho(icmp, clock, p, reply, error);
        const int sockets = icmpSocketsOpen() - inherited;
        return (ok ? "ok " + dotted(reply.address) : "fail " + error.text) + " sockets " +
               std::to_string(sockets);
    });
    EXPECT_EQ(out, std::string("ok ") + kHostAddress + " sockets 0");
    EXPECT_EQ(listener.seen(1), (std::vector<std::string>{"df=1 ttl=7 tos=16"}));
}

TEST_F(IcmpNamespaceTest, RequestOnTheWire_CarriesTheOptionsAsked) {
    ASSERT_TRUE(net->sysctl(net->prober, "ping_group_range", "0\t2147483647"));
    RequestListener listener(net->host);
    ASSERT_TRUE(listener.ok());
    // The program's own probe (don't fragment 0, time to live 100, type of service 0), then
    // the options turned the other way, from a raw and from a datagram socket each.
    for (bool unprivileged : {false, true}) {
        EXPECT_EQ(
            runInNamespace(net->prober, unprivileged, [] { return interactiveProbe(kHostAddress); })
                .rfind("198.18.42.2 [198.18.42.2], replied", 0),
            0u);
        EXPECT_EQ(runInNamespace(net->prober, unprivileged, [] { return echoWith(1, 7, 0x10); }),
                  "ok");
    }
    EXPECT_EQ(listener.seen(4),
              (std::vector<std::string>{"df=0 ttl=100 tos=0", "df=1 ttl=7 tos=16",
                                        "df=0 ttl=100 tos=0", "df=1 ttl=7 tos=16"}));
}

} // namespace
} // namespace tn
