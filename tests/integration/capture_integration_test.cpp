#include "integration/helper_capture_rig.h"
#include "platform/linux/pcap_capture.h"
#include "support/netns.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace tn {
namespace {

using namespace std::chrono_literals;

// Host side 198.18.131.1/24; the namespace answers on 198.18.132.1 (another subnet, reached by a
// route into the veth) and on 198.18.131.2 (the host's own subnet).
constexpr const char* kHostAddr = "198.18.131.1";
constexpr const char* kFarAddr = "198.18.132.1";
constexpr const char* kNearAddr = "198.18.131.2";

sockaddr_in endpoint(const char* addr, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, addr, &a.sin_addr);
    return a;
}

int boundSocket(int type, const char* addr, int port) {
    const int fd = ::socket(AF_INET, type, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = endpoint(addr, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        return -1;
    if (type == SOCK_STREAM)
        ::listen(fd, 4);
    return fd;
}

// Runs in the namespace: each TCP listener reads a request to its end and answers with a
// fixed number of bytes; the UDP socket echoes.
[[noreturn]] void serve(const test::VethNamespace& net, int readyFd) {
    if (!net.enter())
        ::_exit(2);
    struct Listener {
        int fd;
        std::size_t reply;
    };
    std::vector<Listener> tcp = {{boundSocket(SOCK_STREAM, kFarAddr, 80), 5000},
                                 {boundSocket(SOCK_STREAM, kFarAddr, 443), 20000},
                                 {boundSocket(SOCK_STREAM, kFarAddr, 25), 100},
                                 {boundSocket(SOCK_STREAM, kNearAddr, 80), 3000}};
    const int udp = boundSocket(SOCK_DGRAM, kFarAddr, 5353);
    for (const auto& l : tcp)
        if (l.fd < 0)
            ::_exit(3);
    if (udp < 0)
        ::_exit(3);
    (void)!::write(readyFd, "x", 1);
    std::vector<pollfd> fds;
    for (const auto& l : tcp)
        fds.push_back({l.fd, POLLIN, 0});
    fds.push_back({udp, POLLIN, 0});
    std::vector<char> buf(65536);
    for (;;) {
        ::poll(fds.data(), fds.size(), -1);
        for (std::size_t i = 0; i < tcp.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            const int c = ::accept(tcp[i].fd, nullptr, nullptr);
            while (::read(c, buf.data(), buf.size()) > 0) {
            }
            std::vector<char> reply(tcp[i].reply, 'r');
            std::size_t done = 0;
            while (done < reply.size()) {
                const ssize_t n = ::write(c, reply.data() + done, reply.size() - done);
                if (n <= 0)
                    break;
                done += static_cast<std::size_t>(n);
            }
            ::close(c);
        }
        if (fds.back().revents & POLLIN) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(udp, buf.data(), buf.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0)
                ::sendto(udp, buf.data(), static_cast<std::size_t>(n), 0,
                         reinterpret_cast<sockaddr*>(&from), len);
        }
    }
}

void setTimeout(int fd) {
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Sends `out` bytes in 1000-byte writes, then reads the answer to its end; its size.
std::size_t tcpExchange(const char* addr, int port, std::size_t out) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    setTimeout(fd);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in a = endpoint(addr, port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ADD_FAILURE() << "connect to " << addr << ":" << port << ": " << std::strerror(errno);
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
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    setTimeout(fd);
    const sockaddr_in a = endpoint(kFarAddr, 5353);
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

int pings(int count) {
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    setTimeout(fd);
    const sockaddr_in a = endpoint(kFarAddr, 0);
    int answered = 0;
    for (int seq = 1; seq <= count; ++seq) {
        std::uint8_t pkt[64] = {ICMP_ECHO, 0, 0, 0, 0x12, 0x34, 0, static_cast<std::uint8_t>(seq)};
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < sizeof pkt; i += 2)
            sum += static_cast<std::uint32_t>(pkt[i] << 8 | pkt[i + 1]);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        pkt[2] = static_cast<std::uint8_t>(~sum >> 8);
        pkt[3] = static_cast<std::uint8_t>(~sum);
        ::sendto(fd, pkt, sizeof pkt, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        std::uint8_t reply[256];
        for (int tries = 0; tries < 10; ++tries) {
            const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
            if (n < 0)
                break;
            if (n >= 28 && reply[20] == ICMP_ECHOREPLY && reply[27] == seq) {
                ++answered;
                break;
            }
        }
    }
    ::close(fd);
    return answered;
}

using test::IpBytes;

class CaptureIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: creates a network namespace and a veth pair";
        if (!test::sh("ip -V"))
            GTEST_SKIP() << "needs root: the ip command (iproute2) is missing";
        net = std::make_unique<test::VethNamespace>("cap");
        const std::string& h = net->host;
        const std::string& p = net->peer;
        const std::vector<std::string> host = {
            "ip link add " + h + " address 02:00:00:00:83:01 type veth peer name " + p +
                " address 02:00:00:00:84:01",
            "ip link set " + p + " netns " + net->ns,
            "sysctl -qw net.ipv6.conf." + h + ".disable_ipv6=1",
            "ip addr add " + std::string(kHostAddr) + "/24 dev " + h,
            "ip link set " + h + " up",
            "ip route add 198.18.132.0/24 dev " + h,
            "ip neigh replace " + std::string(kFarAddr) +
                " lladdr 02:00:00:00:84:01 nud permanent dev " + h,
            "ip neigh replace " + std::string(kNearAddr) +
                " lladdr 02:00:00:00:84:01 nud permanent dev " + h};
        const std::vector<std::string> inside = {
            "sysctl -qw net.ipv6.conf." + p + ".disable_ipv6=1",
            "ip addr add " + std::string(kFarAddr) + "/24 dev " + p,
            "ip addr add " + std::string(kNearAddr) + "/24 dev " + p,
            "ip link set lo up",
            "ip link set " + p + " up",
            "ip neigh replace " + std::string(kHostAddr) +
                " lladdr 02:00:00:00:83:01 nud permanent dev " + p};
        ASSERT_TRUE(test::sh("ip netns add " + net->ns));
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

TEST_F(CaptureIntegrationTest, RecordsAndTotalsEqualTheIpBytesOnTheLink) {
    test::HelperCaptureRig rig;
    CIPStat& stat = *rig.stat;
    const int index = rig.indexOf(net->host);
    ASSERT_GE(index, 0) << "the veth is not in the adapter list";
    ASSERT_EQ(stat.initialise(index), 1) << stat.lastErrorText();
    stat.setLanOnly(1);

    IpBytes start = settle(counters());
    start = counters();
    IpBytes mark = start;
    const auto phase = [&](auto&& traffic) {
        traffic();
        const IpBytes d = settle(mark);
        mark = counters();
        return d;
    };
    const IpBytes web80 = phase([] { EXPECT_EQ(tcpExchange(kFarAddr, 80, 3000), 5000u); });
    const IpBytes web443 = phase([] { EXPECT_EQ(tcpExchange(kFarAddr, 443, 1000), 20000u); });
    const IpBytes mail = phase([] { EXPECT_EQ(tcpExchange(kFarAddr, 25, 4000), 100u); });
    const IpBytes udp = phase([] { EXPECT_EQ(udpEcho(5, 200), 5); });
    const IpBytes icmp = phase([] { EXPECT_EQ(pings(3), 3); });
    const IpBytes lan = phase([] { EXPECT_EQ(tcpExchange(kNearAddr, 80, 2000), 3000u); });
    ASSERT_GT(lan.sent, 2000u);

    const IpBytes all{mark.sent - start.sent, mark.received - start.received};
    // The capture hands frames over in blocks, at the latest when a block's time-out ends.
    for (int i = 0; i < 200; ++i) {
        if (stat.totalSent() == all.sent && stat.totalReceived() == all.received)
            break;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(stat.totalSent(), all.sent);
    EXPECT_EQ(stat.totalReceived(), all.received);

    const auto today = rig.os.clock->toLocal(rig.os.clock->now()).value();
    const auto check = [&](int category, std::uint64_t sent, std::uint64_t received) {
        EXPECT_EQ(stat.dayRecord(Direction::Sent, today.day, category), sent) << category;
        EXPECT_EQ(stat.dayRecord(Direction::Received, today.day, category), received) << category;
        EXPECT_EQ(stat.monthRecord(Direction::Sent, today.month, category), sent) << category;
        EXPECT_EQ(stat.monthRecord(Direction::Received, today.month, category), received)
            << category;
    };
    check(kWeb, web80.sent + web443.sent, web80.received + web443.received);
    check(kMail, mail.sent, mail.received);
    check(kUdp, udp.sent, udp.received);
    check(kOthers, icmp.sent, icmp.received);
    // Traffic within the subnet counts in the totals only.
    EXPECT_EQ(stat.dayTotal(today.day), all.sent + all.received - lan.sent - lan.received);

    // The link is idle now: a stop must not wait for a frame that never comes.
    auto stopped = std::async(std::launch::async, [&] { stat.stopCapture(); });
    ASSERT_EQ(stopped.wait_for(30s), std::future_status::ready) << "stop hung on an idle link";
    EXPECT_FALSE(stat.hasThread());
}

// Interfaces that come and go elsewhere on the machine leave the capture of the watched adapter
// running: every byte of a stream that runs meanwhile is counted.
TEST_F(CaptureIntegrationTest, InterfacesComingAndGoingElsewhereLoseNothing) {
    test::HelperCaptureRig rig;
    CIPStat& stat = *rig.stat;
    const int index = rig.indexOf(net->host);
    ASSERT_GE(index, 0) << "the veth is not in the adapter list";
    ASSERT_EQ(stat.initialise(index), 1) << stat.lastErrorText();

    settle(counters());
    const IpBytes start = counters();
    const std::string other = "tnch" + std::to_string(::getpid() % 100000) + "x";
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(test::sh("ip link add " + other + std::to_string(i) +
                                 " type veth peer name " + other + "p" + std::to_string(i)));
        EXPECT_EQ(udpEcho(5, 200), 5);
        ASSERT_TRUE(stat.refreshKeepingCapture()) << "round " << round;
        EXPECT_EQ(stat.selectedAdapterName(), net->host);
        for (int i = 0; i < 5; ++i)
            test::sh("ip link del " + other + std::to_string(i));
        EXPECT_EQ(udpEcho(5, 200), 5);
        ASSERT_TRUE(stat.refreshKeepingCapture()) << "round " << round;
    }
    const IpBytes d = settle(start);
    for (int i = 0; i < 200; ++i) {
        if (stat.totalSent() == d.sent && stat.totalReceived() == d.received)
            break;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(stat.totalSent(), d.sent);
    EXPECT_EQ(stat.totalReceived(), d.received);
    EXPECT_EQ(stat.framesDropped(), 0u);

    // The watched adapter itself going is a change that asks for a reopen.
    test::sh("ip link del " + net->host);
    EXPECT_FALSE(stat.refreshKeepingCapture());
    stat.stopCapture();
}

// A stop asked for while frames are being handed out (the worker's wake-up) lets the batch in
// hand finish: the dispatch reports every frame it handed out, and the next one returns at once.
TEST_F(CaptureIntegrationTest, WakeUpDuringABatch_TheBatchIsHandedOutToItsEnd) {
    PcapCaptureFactory factory;
    CaptureOptions options;
    options.snapLength = 64;
    CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
    std::string reason;
    const auto device = factory.openLive(net->host, options, status, reason);
    ASSERT_TRUE(device) << reason;
    ASSERT_EQ(udpEcho(40, 100), 40);
    struct Batch {
        ICaptureDevice* device;
        int handed = 0;
    } batch{device.get()};
    const auto onFrame = [](void* user, const CaptureHeader&, const std::uint8_t*) {
        auto* b = static_cast<Batch*>(user);
        if (b->handed++ == 0)
            b->device->breakLoop();
    };
    int total = 0;
    for (int reads = 0; total < 80 && reads < 20; ++reads) {
        batch.handed = 0;
        const int n = device->dispatch(onFrame, &batch);
        if (batch.handed == 0)
            continue;
        EXPECT_EQ(n, batch.handed) << "read " << reads;
        total += batch.handed;
        batch.handed = 0;
        EXPECT_EQ(device->dispatch(onFrame, &batch), ICaptureDevice::kBroken);
        EXPECT_EQ(batch.handed, 0);
    }
    EXPECT_EQ(total, 80); // 40 datagrams and their echoes
}

// Under a burst the capture moves from its small ring to a large one, and back once the line is
// quiet, with a trickle crossing both hand-overs. Every datagram is captured exactly once (a
// block left behind in the ring that had the traffic, or a socket that got frames before it
// joined the group, would show), a VLAN tag is in the frame whichever ring held it, and the
// large ring is given back.
TEST_F(CaptureIntegrationTest, RingGrowsUnderABurstAndShrinksAfter_EveryFrameOnce) {
    // Every other datagram goes out through a VLAN on the veth, where the kernel has VLANs.
    const std::string vlan = "tnv" + std::to_string(::getpid());
    const bool haveVlan =
        test::sh("ip link add link " + net->host + " name " + vlan + " type vlan id 7") &&
        test::sh("ip addr add 198.18.133.1/24 dev " + vlan) &&
        test::sh("ip link set " + vlan + " up") &&
        test::sh("ip neigh replace 198.18.133.2 lladdr 02:00:00:00:84:01 nud permanent dev " +
                 vlan);
    if (!haveVlan)
        std::printf("no VLAN in this kernel: untagged frames only\n");

    PcapCaptureFactory factory;
    CaptureOptions options;
    options.snapLength = 64;
    options.readTimeoutMs = 50;
    options.kernelBufferBytes = PcapCaptureFactory::kMaxRingBytes;
    options.growUnderLoad = true;
    options.quietMsBeforeShrink = 300;
    CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
    std::string reason;
    const auto device = factory.openLive(net->host, options, status, reason);
    ASSERT_TRUE(device) << reason;

    constexpr std::uint16_t kPort = 40999;
    struct Seen {
        std::vector<int> count;
        std::vector<int> tagged;
    } seen{std::vector<int>(50000), std::vector<int>(50000)};
    const auto onFrame = [](void* user, const CaptureHeader& h, const std::uint8_t* f) {
        auto* s = static_cast<Seen*>(user);
        std::size_t ip = 14;
        bool tag = false;
        if (h.capturedLength >= 18 && f[12] == 0x81 && f[13] == 0x00) {
            tag = true;
            ip = 18;
        }
        if (h.capturedLength < ip + 32 || f[ip - 2] != 0x08 || f[ip - 1] != 0x00 || f[ip + 9] != 17)
            return;
        if (((f[ip + 22] << 8) | f[ip + 23]) != kPort)
            return;
        std::uint32_t seq = 0;
        std::memcpy(&seq, f + ip + 28, sizeof seq);
        if (seq < s->count.size()) {
            ++s->count[seq];
            s->tagged[seq] += tag ? 1 : 0;
        }
    };
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> ringBytes{0};
    std::uint64_t largest = 0;
    std::thread reader([&] {
        while (!stop.load()) {
            device->dispatch(onFrame, &seen);
            CaptureStatistics st;
            if (device->statistics(st)) {
                ringBytes.store(st.ringBytes);
                largest = std::max<std::uint64_t>(largest, st.ringBytes);
            }
        }
    });
    const int plain = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int tagged = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to[2] = {endpoint(kFarAddr, kPort),
                               endpoint(haveVlan ? "198.18.133.2" : kFarAddr, kPort)};
    std::uint32_t sent = 0;
    const auto send = [&](int n, std::chrono::microseconds gap) {
        for (int i = 0; i < n; ++i, ++sent) {
            const int odd = static_cast<int>(sent & 1);
            ::sendto(odd ? tagged : plain, &sent, sizeof sent, 0,
                     reinterpret_cast<const sockaddr*>(&to[odd]), sizeof to[odd]);
            if (gap.count() > 0)
                std::this_thread::sleep_for(gap);
        }
    };
    const auto trickleUntil = [&](auto done) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < deadline)
            send(10, 2ms);
    };
    const std::uint64_t rest = PcapCaptureFactory::kRestRingBytes;
    send(200, 2ms);
    send(20000, 0us); // the burst: the large ring takes over while it lasts
    trickleUntil([&] { return ringBytes.load() > rest; });
    send(20000, 0us);
    trickleUntil([&] { return ringBytes.load() == rest; });
    send(200, 2ms);
    std::this_thread::sleep_for(300ms); // the last blocks go by their time-out
    stop.store(true);
    device->breakLoop();
    reader.join();
    ::close(plain);
    ::close(tagged);

    EXPECT_GT(largest, rest) << "the ring never grew";
    EXPECT_EQ(ringBytes.load(), rest) << "the large ring was not given back";
    int missing = 0, repeated = 0, wrongTag = 0;
    for (std::uint32_t i = 0; i < sent; ++i) {
        missing += seen.count[i] == 0 ? 1 : 0;
        repeated += seen.count[i] > 1 ? 1 : 0;
        wrongTag +=
            seen.count[i] == 1 && seen.tagged[i] != static_cast<int>(haveVlan && (i & 1)) ? 1 : 0;
    }
    EXPECT_EQ(missing, 0) << "of " << sent;
    EXPECT_EQ(repeated, 0) << "of " << sent;
    EXPECT_EQ(wrongTag, 0) << "of " << sent;
}

// The helper tells of a TCP connection by its two opening segments (the SYN and its answer),
// of nothing else, and every frame still comes through the ring once.
TEST_F(CaptureIntegrationTest, FlowStartsComeForTheOpeningSegmentsOnly_EveryFrameStillOnce) {
    struct Row {
        const char* what;
        std::function<void()> traffic;
        std::uint16_t port; // the connection's server port, 0 where no connection opens
    };
    const Row rows[] = {
        {"a TCP connection", [] { EXPECT_EQ(tcpExchange(kFarAddr, 443, 3000), 20000u); }, 443},
        {"UDP datagrams", [] { EXPECT_EQ(udpEcho(5, 200), 5); }, 0},
        {"pings", [] { EXPECT_EQ(pings(3), 3); }, 0},
    };
    for (const Row& row : rows) {
        settle(counters());
        const test::FlowStartWatch w = test::watchFlowStarts(net->host, row.traffic);
        ASSERT_TRUE(w.opened) << row.what;
        EXPECT_EQ(w.frames, w.linkFrames) << row.what;
        if (row.port == 0) {
            EXPECT_TRUE(w.starts.empty()) << row.what;
            continue;
        }
        ASSERT_EQ(w.starts.size(), 2u) << row.what;
        const auto syn = *std::find_if(w.starts.begin(), w.starts.end(),
                                       [&](const auto& p) { return p.second == row.port; });
        EXPECT_EQ(w.starts.count({syn.second, syn.first}), 1u) << row.what << ": no answer";
    }
}

} // namespace
} // namespace tn
