// TCP and UDP over IPv6 across a veth: the records equal the datagram bytes the kernel moved.
#include "integration/helper_capture_rig.h"
#include "support/netns.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace tn {
namespace {

using namespace std::chrono_literals;

// Host side 2001:db8:83::1/64; the namespace answers on 2001:db8:84::1 (reached by a route into
// the veth). No link-local addresses, no address detection and fixed neighbours: nothing but
// the test's own datagrams crosses the link.
constexpr const char* kHostAddr = "2001:db8:83::1";
constexpr const char* kFarAddr = "2001:db8:84::1";

sockaddr_in6 endpoint(const char* addr, int port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET6, addr, &a.sin6_addr);
    return a;
}

void setTimeout(int fd) {
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// In the namespace: TCP 443 reads a request to its end and answers 30000 bytes; UDP 53 echoes.
[[noreturn]] void serve(const test::VethNamespace& net, int readyFd) {
    if (!net.enter())
        ::_exit(2);
    const int tcp = ::socket(AF_INET6, SOCK_STREAM, 0);
    const int udp = ::socket(AF_INET6, SOCK_DGRAM, 0);
    const int one = 1;
    ::setsockopt(tcp, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in6 t = endpoint(kFarAddr, 443);
    const sockaddr_in6 u = endpoint(kFarAddr, 53);
    if (::bind(tcp, reinterpret_cast<const sockaddr*>(&t), sizeof t) != 0 || ::listen(tcp, 4) ||
        ::bind(udp, reinterpret_cast<const sockaddr*>(&u), sizeof u) != 0)
        ::_exit(3);
    (void)!::write(readyFd, "x", 1);
    pollfd fds[2] = {{tcp, POLLIN, 0}, {udp, POLLIN, 0}};
    std::vector<char> buf(65536);
    for (;;) {
        ::poll(fds, 2, -1);
        if (fds[0].revents & POLLIN) {
            const int c = ::accept(tcp, nullptr, nullptr);
            while (::read(c, buf.data(), buf.size()) > 0) {
            }
            const std::vector<char> reply(30000, 'r');
            for (std::size_t done = 0; done < reply.size();) {
                const ssize_t n = ::write(c, reply.data() + done, reply.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            ::close(c);
        }
        if (fds[1].revents & POLLIN) {
            sockaddr_in6 from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(udp, buf.data(), buf.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0)
                ::sendto(udp, buf.data(), static_cast<std::size_t>(n), 0,
                         reinterpret_cast<sockaddr*>(&from), len);
        }
    }
}

std::size_t tcpExchange(std::size_t out) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    setTimeout(fd);
    const sockaddr_in6 a = endpoint(kFarAddr, 443);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ADD_FAILURE() << "connect: " << std::strerror(errno);
        ::close(fd);
        return 0;
    }
    const std::vector<char> chunk(1000, 'q');
    for (std::size_t sent = 0; sent < out; sent += chunk.size())
        (void)!::write(fd, chunk.data(), std::min(chunk.size(), out - sent));
    ::shutdown(fd, SHUT_WR);
    std::vector<char> buf(65536);
    std::size_t got = 0;
    for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;)
        got += static_cast<std::size_t>(n);
    ::close(fd);
    return got;
}

int udpEcho(int count, std::size_t size) {
    const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    setTimeout(fd);
    const sockaddr_in6 a = endpoint(kFarAddr, 53);
    const std::vector<char> out(size, 'u');
    std::vector<char> in(size + 1);
    int echoed = 0;
    for (int i = 0; i < count; ++i) {
        ::sendto(fd, out.data(), out.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (::recv(fd, in.data(), in.size(), 0) == static_cast<ssize_t>(size))
            ++echoed;
    }
    ::close(fd);
    return echoed;
}

using test::IpBytes;

class Ipv6CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: creates a network namespace and a veth pair";
        if (!test::sh("ip -V"))
            GTEST_SKIP() << "needs the ip command (iproute2)";
        net = std::make_unique<test::VethNamespace>("v6");
        const std::string& h = net->host;
        const std::string& p = net->peer;
        const auto quiet = [](const std::string& dev) {
            return std::vector<std::string>{
                "sysctl -qw net.ipv6.conf." + dev + ".addr_gen_mode=1",
                "sysctl -qw net.ipv6.conf." + dev + ".accept_ra=0",
                "sysctl -qw net.ipv6.conf." + dev + ".router_solicitations=0",
                "sysctl -qw net.ipv6.conf." + dev + ".force_mld_version=2",
                "sysctl -qw net.ipv6.conf." + dev + ".mldv2_unsolicited_report_interval=0"};
        };
        ASSERT_TRUE(test::sh("ip netns add " + net->ns));
        ASSERT_TRUE(test::sh("ip link add " + h +
                             " address 02:00:00:00:93:01 type veth peer name " + p +
                             " address 02:00:00:00:94:01"));
        ASSERT_TRUE(test::sh("ip link set " + p + " netns " + net->ns));
        std::vector<std::string> host = quiet(h);
        host.insert(host.end(),
                    {"ip -6 addr add " + std::string(kHostAddr) + "/64 dev " + h + " nodad",
                     "ip link set " + h + " up", "ip -6 route add 2001:db8:84::/64 dev " + h,
                     "ip -6 neigh replace " + std::string(kFarAddr) +
                         " lladdr 02:00:00:00:94:01 nud permanent dev " + h});
        std::vector<std::string> inside = quiet(p);
        inside.insert(inside.end(),
                      {"ip -6 addr add " + std::string(kFarAddr) + "/64 dev " + p + " nodad",
                       "ip link set lo up", "ip link set " + p + " up",
                       "ip -6 route add 2001:db8:83::/64 dev " + p,
                       "ip -6 neigh replace " + std::string(kHostAddr) +
                           " lladdr 02:00:00:00:93:01 nud permanent dev " + p});
        for (const auto& c : host)
            ASSERT_TRUE(test::sh(c)) << c;
        for (const auto& c : inside)
            ASSERT_TRUE(net->inside(c)) << c;

        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        server = ::fork();
        ASSERT_GE(server, 0);
        if (server == 0)
            serve(*net, ready[1]);
        ::close(ready[1]);
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1) << "the server in the namespace did not start";
        ::close(ready[0]);
    }

    void TearDown() override {
        if (server > 0) {
            ::kill(server, SIGKILL);
            ::waitpid(server, nullptr, 0);
        }
        net.reset();
    }

    test::IpBytes counters() const { return test::linkIpBytes(net->host); }
    test::IpBytes settle(const test::IpBytes& before) const {
        return test::settleLink(net->host, before);
    }

    std::unique_ptr<test::VethNamespace> net;
    pid_t server = -1;
};

TEST_F(Ipv6CaptureTest, TcpAndUdpOverIpv6EqualTheDatagramBytesOnTheLink) {
    test::HelperCaptureRig rig;
    CIPStat& stat = *rig.stat;
    const int index = rig.indexOf(net->host);
    ASSERT_GE(index, 0) << "the veth is not in the adapter list";
    ASSERT_EQ(stat.record(index).ipv6.size(), 1u) << "the veth's IPv6 address is not listed";
    ASSERT_EQ(stat.initialise(index), 1) << stat.lastErrorText();

    IpBytes start = settle(counters());
    start = counters();
    EXPECT_EQ(tcpExchange(20000), 30000u);
    const IpBytes tcp = settle(start);
    IpBytes mark = counters();
    EXPECT_EQ(udpEcho(10, 700), 10);
    const IpBytes udp = settle(mark);
    mark = counters();
    ASSERT_GT(tcp.sent, 20000u);
    ASSERT_GT(udp.received, 7000u);

    const IpBytes all{mark.sent - start.sent, mark.received - start.received};
    for (int i = 0; i < 200; ++i) {
        if (stat.totalSent() == all.sent && stat.totalReceived() == all.received)
            break;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(stat.totalSent(), all.sent);
    EXPECT_EQ(stat.totalReceived(), all.received);
    const auto today = rig.os.clock->toLocal(rig.os.clock->now()).value();
    EXPECT_EQ(stat.dayRecord(Direction::Sent, today.day, kWeb), tcp.sent);
    EXPECT_EQ(stat.dayRecord(Direction::Received, today.day, kWeb), tcp.received);
    EXPECT_EQ(stat.dayRecord(Direction::Sent, today.day, kUdp), udp.sent);
    EXPECT_EQ(stat.dayRecord(Direction::Received, today.day, kUdp), udp.received);
    EXPECT_EQ(stat.monthRecord(Direction::Received, today.month, kWeb), tcp.received);
    stat.stopCapture();

    // A new address (a temporary one, say) is seen by the next refresh.
    ASSERT_TRUE(test::sh("ip -6 addr add 2001:db8:83::99/64 dev " + net->host + " nodad"));
    std::vector<Ipv6Address> now;
    ASSERT_TRUE(rig.os.adapters->ipv6Addresses(net->host, now));
    Ipv6Address added;
    ::inet_pton(AF_INET6, "2001:db8:83::99", added.address.data());
    added.prefixLength = 64;
    EXPECT_EQ(now.size(), 2u);
    EXPECT_NE(std::find(now.begin(), now.end(), added), now.end());
}

// Over IPv6 too, a TCP connection is told of by its two opening segments and a UDP exchange not
// at all, and every frame still comes through the ring once.
TEST_F(Ipv6CaptureTest, FlowStartsComeForTheOpeningSegmentsOnly_EveryFrameStillOnce) {
    struct Row {
        const char* what;
        std::function<void()> traffic;
        std::size_t starts;
    };
    const Row rows[] = {
        {"a TCP connection", [] { EXPECT_EQ(tcpExchange(2000), 30000u); }, 2},
        {"UDP datagrams", [] { EXPECT_EQ(udpEcho(5, 300), 5); }, 0},
    };
    for (const Row& row : rows) {
        settle(counters());
        const test::FlowStartWatch w = test::watchFlowStarts(net->host, row.traffic);
        ASSERT_TRUE(w.opened) << row.what;
        EXPECT_EQ(w.frames, w.linkFrames) << row.what;
        EXPECT_EQ(w.starts.size(), row.starts) << row.what;
        for (const auto& [from, to] : w.starts)
            EXPECT_TRUE(from == 443 || to == 443) << row.what << ": " << from << " -> " << to;
    }
}

} // namespace
} // namespace tn
