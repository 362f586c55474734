// tallynet-capture as the window process runs it: capture through it on a loopback of a network
// namespace of the test's own, its capabilities and environment while it runs, and its answers
// to requests it must refuse. Needs root (namespaces); skips otherwise.
#include "capture_helper/confine.h"
#include "platform/linux/capture_channel.h"
#include "platform/linux/helper_capture.h"
#include "platform/linux/unique_fd.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tn {
namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;
const char* const kHelper = TALLYNET_CAPTURE_HELPER;

using Result = std::map<std::string, std::string>;

// Runs body in a child with a network namespace of its own (loopback up) and, when asked, as
// nobody; returns the key/value pairs body filled in.
Result inOwnNamespace(bool unprivileged, const std::function<void(Result&)>& body,
                      uid_t uid = kNobody) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {{"error", "pipe"}};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        Result r;
        ifreq ifr{};
        std::strcpy(ifr.ifr_name, "lo");
        const int s = ::unshare(CLONE_NEWNET) == 0 ? ::socket(AF_INET, SOCK_DGRAM, 0) : -1;
        if (s < 0 || ::ioctl(s, SIOCGIFFLAGS, &ifr) != 0 ||
            (ifr.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &ifr) != 0))
            r["error"] = "no namespace";
        else if (unprivileged &&
                 (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 || ::setuid(uid) != 0))
            r["error"] = "could not become nobody";
        else
            body(r);
        std::string out;
        for (auto [k, v] : r) {
            std::replace(v.begin(), v.end(), '\n', '\x1f'); // one line per pair
            out += k + "\t" + v + "\n";
        }
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
    Result r;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        std::string value = line.substr(tab + 1);
        std::replace(value.begin(), value.end(), '\x1f', '\n');
        r[line.substr(0, tab)] = value;
    }
    if (!WIFEXITED(status))
        r["error"] = "child crashed";
    return r;
}

// "CapPrm CapEff" of every thread of process pid, joined by commas ("" when it is gone).
std::string capabilitiesOf(pid_t pid) {
    std::string all;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = ::opendir(tasks.c_str());
    if (!d)
        return all;
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream status(tasks + "/" + e->d_name + "/status");
        std::string line, prm, eff;
        while (std::getline(status, line)) {
            if (line.rfind("CapPrm:", 0) == 0)
                prm = line.substr(line.find_first_not_of(" \t", 7));
            if (line.rfind("CapEff:", 0) == 0)
                eff = line.substr(line.find_first_not_of(" \t", 7));
        }
        all += (all.empty() ? "" : ",") + prm + " " + eff;
    }
    ::closedir(d);
    return all;
}

// The running helper started by this process.
pid_t helperChild() {
    DIR* d = ::opendir("/proc");
    pid_t found = -1;
    while (const dirent* e = d ? ::readdir(d) : nullptr) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string text;
        std::getline(stat, text);
        const auto close = text.rfind(')');
        if (close == std::string::npos || text.find("(tallynet-captur") == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        std::string state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == ::getpid())
            found = std::atoi(e->d_name);
    }
    if (d)
        ::closedir(d);
    return found;
}

// A field of /proc/<pid>/status, its value without the blanks before it.
std::string statusField(pid_t pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name, 0) == 0)
            return line.substr(line.find_first_not_of(" \t", name.size()));
    return "";
}

std::string environOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void sendUdp(int count, std::size_t payload) {
    UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string data(payload, 'x');
    for (int i = 0; i < count; ++i)
        ::sendto(s.get(), data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

struct Counter {
    int frames = 0; // frames of our datagrams (IPv4 over Ethernet, wire length known)
    std::uint32_t wire = 0;
};

void countFrame(void* user, const CaptureHeader& h, const std::uint8_t*) {
    auto* c = static_cast<Counter*>(user);
    if (h.wireLength == c->wire)
        ++c->frames;
}

class CaptureHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: creates a network namespace";
    }
};

TEST_F(CaptureHelperTest, CapturesThroughTheHelperWhichKeepsNoCapabilityAndNoEnvironment) {
    const Result r = inOwnNamespace(false, [](Result& r) {
        HelperCaptureFactory factory(kHelper);
        CaptureOptions options;
        options.snapLength = 64;
        options.readTimeoutMs = 100;
        CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
        std::string reason;
        auto device = factory.openLive("lo", options, status, reason);
        if (!device) {
            r["error"] = "open: " + reason;
            return;
        }
        const pid_t helper = helperChild();
        r["environ"] = std::to_string(environOf(helper).size());
        sendUdp(50, 100);
        Counter c;
        c.wire = 14 + 20 + 8 + 100;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (c.frames < 50 && std::chrono::steady_clock::now() < deadline)
            if (device->dispatch(&countFrame, &c) < 0)
                break;
        r["frames"] = std::to_string(c.frames);
        // Read once frames flow: the helper starts its channel listener after its reply.
        r["caps"] = capabilitiesOf(helper);
        r["confined"] = statusField(helper, "Seccomp:");
        r["bounding"] = statusField(helper, "CapBnd:");
        CaptureStatistics st;
        while (!device->statistics(st) && std::chrono::steady_clock::now() < deadline)
            device->dispatch(&countFrame, &c);
        r["kernel received"] = std::to_string(st.received);
        // A wake-up ends a dispatch that waits for frames.
        std::thread waker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            device->breakLoop();
        });
        int n = 0;
        while ((n = device->dispatch(&countFrame, &c)) >= 0 &&
               std::chrono::steady_clock::now() < deadline) {
        }
        waker.join();
        r["woken"] = std::to_string(n);
        device.reset();
        r["helper after close"] = ::kill(helper, 0) == 0 ? "running" : "gone";
    });
    ASSERT_EQ(r.count("error"), 0u) << r.at("error");
    EXPECT_EQ(r.at("frames"), "50");
    EXPECT_GE(std::stoll(r.at("kernel received")), 50);
    // Every thread (the capture loop, the channel's listener, any a sanitizer adds).
    std::istringstream threads(r.at("caps"));
    int count = 0;
    for (std::string t; std::getline(threads, t, ','); ++count)
        EXPECT_EQ(t, "0000000000000000 0000000000000000") << r.at("caps");
    EXPECT_GE(count, 2) << r.at("caps");
    EXPECT_EQ(r.at("environ"), "0");
    EXPECT_EQ(r.at("bounding"), "0000000000000000");
    if (!helper::confinementSkipped()) {
        EXPECT_EQ(r.at("confined"), "2") << "a system-call filter";
    }
    EXPECT_EQ(r.at("woken"), std::to_string(ICaptureDevice::kBroken));
    EXPECT_EQ(r.at("helper after close"), "gone");
}

// Starts the helper by hand with environment `env`, sends `request` and returns its reply.
struct RawRun {
    std::optional<channel::Reply> reply;
    int exitCode = -1;
    std::string environ;
    int framesAfterStop = 0;
    bool endedAfterStop = false;
};

RawRun runHelper(const std::vector<std::uint8_t>& request, std::vector<std::string> env,
                 bool stopAfterReply = false, bool withRing = true) {
    RawRun run;
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return run;
    UniqueFd ours(sv[0]), theirs(sv[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), 3);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string name = "tallynet-capture";
    char* argv[] = {name.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, kHelper, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return run;
    theirs = UniqueFd();
    // The request goes with a frame ring, as the window sends it.
    channel::FrameRing ring;
    int ringFd = -1;
    std::string error;
    if (!ring.create(ringFd, error))
        return run;
    const UniqueFd ringOwner(ringFd);
    channel::sendMessage(ours.get(), request, withRing ? ringFd : -1);
    std::vector<std::uint8_t> buf(channel::kMaxMessage);
    pollfd p{ours.get(), POLLIN, 0};
    if (::poll(&p, 1, 5000) == 1) {
        const ssize_t n = ::recv(ours.get(), buf.data(), buf.size(), 0);
        if (n > 0)
            run.reply = channel::decodeReply({buf.data(), static_cast<std::size_t>(n)});
    }
    if (run.reply && run.reply->status == channel::ReplyStatus::Ok) {
        run.environ = environOf(pid);
        if (stopAfterReply) {
            sendUdp(20, 10);
            // The kernel hands a ring block over after the read time-out at the latest; the
            // stop then finds those frames in hand.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto stop = channel::encodeStop();
            ::send(ours.get(), stop.data(), stop.size(), 0);
            while (::poll(&p, 1, 5000) == 1) {
                const ssize_t n = ::recv(ours.get(), buf.data(), buf.size(), 0);
                if (n <= 0) {
                    run.endedAfterStop = n == 0;
                    break;
                }
            }
            ring.consume([&run](const channel::FrameView&) { ++run.framesAfterStop; });
        }
    }
    ours = UniqueFd();
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::vector<std::uint8_t> request(const std::string& name) {
    channel::Request r;
    r.interfaceName = name;
    r.readTimeoutMs = 50;
    return channel::encodeRequest(r);
}

TEST_F(CaptureHelperTest, RefusesMalformedRequestsAndUnknownInterfacesWithAClearReason) {
    const Result r = inOwnNamespace(false, [](Result& r) {
        auto describe = [](const RawRun& run) {
            if (!run.reply)
                return "no reply, exit " + std::to_string(run.exitCode);
            return std::to_string(static_cast<int>(run.reply->status)) + " " + run.reply->reason +
                   ", exit " + std::to_string(run.exitCode);
        };
        const auto good = request("lo");
        r["truncated"] = describe(runHelper({good.begin(), good.end() - 1}, {}));
        auto padded = good;
        padded.push_back(0);
        r["padded"] = describe(runHelper(padded, {}));
        r["garbage"] = describe(runHelper(std::vector<std::uint8_t>(300, 0x41), {}));
        r["unknown"] = describe(runHelper(request("tn-nosuch0"), {}));
        r["no ring"] = describe(runHelper(request("lo"), {}, false, false));
        // A kernel ring larger than the helper takes, forged past the window's encoder.
        auto greedy = request("lo");
        const std::uint32_t ring = 256u << 20;
        std::memcpy(greedy.data() + 12, &ring, sizeof ring);
        r["greedy"] = describe(runHelper(greedy, {}));
    });
    ASSERT_EQ(r.count("error"), 0u) << r.at("error");
    EXPECT_EQ(r.at("truncated"), "1 malformed request, exit 1");
    EXPECT_EQ(r.at("padded"), "1 malformed request, exit 1");
    EXPECT_EQ(r.at("garbage"), "1 malformed request, exit 1");
    EXPECT_EQ(r.at("unknown"), "2 no interface is named \"tn-nosuch0\", exit 1");
    EXPECT_EQ(r.at("no ring"), "1 no frame ring came with the request, exit 1");
    EXPECT_EQ(r.at("greedy"), "1 malformed request, exit 1");
}

TEST_F(CaptureHelperTest, IgnoresAHostileEnvironmentAndFlushesOnStop) {
    const Result r = inOwnNamespace(false, [](Result& r) {
        const RawRun run =
            runHelper(request("lo"),
                      {"QT_PLUGIN_PATH=/tmp/tn-hostile", "LD_LIBRARY_PATH=/tmp/tn-hostile",
                       "QT_QPA_PLATFORM_PLUGIN_PATH=/tmp/tn-hostile", "TZ=:/etc/passwd"},
                      true);
        r["status"] = run.reply ? std::to_string(static_cast<int>(run.reply->status)) : "none";
        r["environ has a variable"] = run.environ.find('=') != std::string::npos ? "yes" : "no";
        r["environ size"] = std::to_string(run.environ.size());
        r["frames after stop"] = std::to_string(run.framesAfterStop);
        r["ended"] = run.endedAfterStop ? "yes" : "no";
        r["exit"] = std::to_string(run.exitCode);
    });
    ASSERT_EQ(r.count("error"), 0u) << r.at("error");
    ASSERT_EQ(r.at("status"), "0");
    EXPECT_EQ(r.at("environ has a variable"), "no");
    EXPECT_NE(r.at("environ size"), "0")
        << "the strings are wiped, not gone: else the test is void";
    EXPECT_GE(std::stoi(r.at("frames after stop")), 20) << "frames sent before the stop arrive";
    EXPECT_EQ(r.at("ended"), "yes");
    EXPECT_EQ(r.at("exit"), "0");
}

// Sends UDP datagrams carrying `marker` to loopback over IPv4 and IPv6.
void sendMarked(const std::string& marker, int count) {
    UniqueFd v4(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    UniqueFd v6(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 to6{};
    to6.sin6_family = AF_INET6;
    to6.sin6_port = htons(9);
    to6.sin6_addr = in6addr_loopback;
    for (int i = 0; i < count; ++i) {
        ::sendto(v4.get(), marker.data(), marker.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        ::sendto(v6.get(), marker.data(), marker.size(), 0, reinterpret_cast<sockaddr*>(&to6),
                 sizeof to6);
    }
}

struct Seen {
    int frames = 0;
    std::uint32_t longest = 0;
    std::string bytes; // everything that came out of the ring
};

void collect(void* user, const CaptureHeader& h, const std::uint8_t* frame) {
    auto* s = static_cast<Seen*>(user);
    ++s->frames;
    s->longest = std::max(s->longest, h.capturedLength);
    s->bytes.append(reinterpret_cast<const char*>(frame), h.capturedLength);
}

// The helper as the package installs it (root-owned, group `group`, mode `mode`, capabilities
// when `capable`), used by nobody: who may capture, and what reaches the window.
TEST_F(CaptureHelperTest, OnlyThoseTheFileAllowsCapture_AndNoPayloadLeavesTheHelper) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    struct Case {
        const char* what;
        gid_t group;
        mode_t mode;
        bool capable;
        bool opens;
        std::string reason; // expected when it does not open, with $H for the helper's path
    };
    const std::string joinRoot = "Capture is for the members of the group root. Join it with:\n"
                                 "sudo usermod -aG root $USER\nthen log in again.";
    const std::vector<Case> cases = {
        {"not a member: may not run it", 0, 0750, true, false, joinRoot},
        {"not a member of a file made runnable by all", 0, 0755, true, false, joinRoot},
        {"a member of a helper without capabilities", kNoGroup, 0750, false, false,
         "$H may not capture. Grant it the capabilities with:\nsudo setcap "
         "cap_net_raw,cap_net_admin,cap_setpcap+p $H"},
        {"a member", kNoGroup, 0750, true, true, ""},
    };
    const std::string marker = "TN-SECRET-PAYLOAD-0123456789-0123456789-0123456789";
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path helper = dir.path() / ("helper" + std::to_string(n++)) / "tallynet-capture";
        fs::create_directories(helper.parent_path());
        fs::permissions(helper.parent_path(), fs::perms::owner_all | fs::perms::others_read |
                                                  fs::perms::others_exec | fs::perms::group_read |
                                                  fs::perms::group_exec);
        fs::copy_file(kHelper, helper);
        ASSERT_EQ(::chown(helper.c_str(), 0, c.group), 0);
        ASSERT_EQ(::chmod(helper.c_str(), c.mode), 0);
        if (c.capable && std::system(("setcap " + std::string(kHelperCapabilities) + " " +
                                      helper.string() + " 2>/dev/null")
                                         .c_str()) != 0)
            GTEST_SKIP() << "this file system takes no file capabilities";
        const Result r = inOwnNamespace(true, [&](Result& r) {
            HelperCaptureFactory factory(helper);
            CaptureOptions options;
            options.snapLength = 128;
            options.readTimeoutMs = 50;
            options.promiscuous = false;
            CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
            std::string reason;
            auto device = factory.openLive("lo", options, status, reason);
            r["reason"] = reason;
            HelperEcho echo;
            r["echo start"] = std::to_string(echo.start(helper));
            if (!device)
                return;
            sendMarked(marker, 20);
            Seen seen;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            // Loopback shows every datagram twice: going out and coming in.
            while (seen.frames < 80 && std::chrono::steady_clock::now() < deadline)
                if (device->dispatch(&collect, &seen) < 0)
                    break;
            r["frames"] = std::to_string(seen.frames);
            r["longest"] = std::to_string(seen.longest);
            r["payload seen"] = seen.bytes.find("TN-SE") != std::string::npos ? "yes" : "no";
        });
        ASSERT_EQ(r.count("error"), 0u) << r.at("error");
        if (!c.opens) {
            std::string expected = c.reason;
            for (std::size_t at; (at = expected.find("$H")) != std::string::npos;)
                expected.replace(at, 2, helper.string());
            EXPECT_EQ(r.at("reason"), expected);
            if (c.mode == 0750 && c.group == 0) {
                EXPECT_EQ(r.at("echo start"), std::to_string(EACCES));
            }
            continue;
        }
        EXPECT_EQ(r.at("reason"), "");
        EXPECT_EQ(r.at("frames"), "80") << "20 datagrams over IPv4 and 20 over IPv6, twice";
        // Ethernet, the IPv6 header and the ports: the longest head of these frames.
        EXPECT_EQ(r.at("longest"), std::to_string(14 + 40 + 4));
        EXPECT_EQ(r.at("payload seen"), "no");
    }
}

} // namespace
} // namespace tn

namespace tn {
namespace {

// Each capture holds a kernel ring that no memory limit of the user's is charged for: one user
// runs a few at a time, not any number.
TEST_F(CaptureHelperTest, OneUserRunsFourCapturesAtATime) {
    // A user of its own, whom no other capture on this machine belongs to; it owns its helper.
    constexpr uid_t kUser = 61731;
    namespace fs = std::filesystem;
    test::TempDir dir;
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const fs::path helper = dir.path() / "tallynet-capture";
    fs::copy_file(kHelper, helper);
    ASSERT_EQ(::chown(helper.c_str(), kUser, kNoGroup), 0);
    ASSERT_EQ(::chmod(helper.c_str(), 0700), 0);
    if (std::system(
            ("setcap " + std::string(kHelperCapabilities) + " " + helper.string() + " 2>/dev/null")
                .c_str()) != 0)
        GTEST_SKIP() << "this file system takes no file capabilities";
    const Result r = inOwnNamespace(
        true,
        [&helper](Result& r) {
            HelperCaptureFactory factory(helper);
            CaptureOptions options;
            options.readTimeoutMs = 50;
            options.promiscuous = false;
            std::vector<std::unique_ptr<ICaptureDevice>> open;
            std::string reasons;
            for (int i = 0; i < 5; ++i) {
                CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
                std::string reason;
                if (auto device = factory.openLive("lo", options, status, reason))
                    open.push_back(std::move(device));
                else
                    reasons += reason;
            }
            r["open"] = std::to_string(open.size());
            r["refused"] = reasons;
            open.pop_back();
            CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
            std::string reason;
            r["after one ended"] =
                factory.openLive("lo", options, status, reason) ? "opens" : reason;
        },
        kUser);
    ASSERT_EQ(r.count("error"), 0u) << r.at("error");
    EXPECT_EQ(r.at("open"), "4");
    EXPECT_EQ(r.at("refused"), "this user runs 4 captures already");
    EXPECT_EQ(r.at("after one ended"), "opens");
}

} // namespace
} // namespace tn
