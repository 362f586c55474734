// Traffic per program across a veth: real programs of known traffic, the bytes the link carried
// for each found under that program's name, and a socket of another user under that user.
#include "integration/helper_capture_rig.h"
#include "support/netns.h"
#include "support/temp_dir.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <pwd.h>
#include <sys/wait.h>
#include <thread>

namespace tn {
namespace {

using namespace std::chrono_literals;

constexpr const char* kHostAddr = "198.18.151.1";
constexpr const char* kFarAddr = "198.18.152.1";
constexpr int kPort = 8080;

const std::filesystem::path kScripts =
    std::filesystem::path(TALLYNET_SOURCE_DIR) / "tests" / "integration" / "apps";

class AppAttributionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: creates a network namespace and a veth pair";
        if (!test::sh("ip -V") || !std::filesystem::exists("/usr/bin/python3") ||
            !test::sh("setpriv --version"))
            GTEST_SKIP() << "needs iproute2, /usr/bin/python3 and setpriv";
        net = std::make_unique<test::VethNamespace>("app");
        const std::string& h = net->host;
        const std::string& p = net->peer;
        const std::vector<std::string> host = {
            "ip link add " + h + " address 02:00:00:00:95:01 type veth peer name " + p +
                " address 02:00:00:00:96:01",
            "ip link set " + p + " netns " + net->ns,
            "sysctl -qw net.ipv6.conf." + h + ".disable_ipv6=1",
            "ip addr add " + std::string(kHostAddr) + "/24 dev " + h,
            "ip link set " + h + " up",
            "ip route add 198.18.152.0/24 dev " + h,
            "ip neigh replace " + std::string(kFarAddr) +
                " lladdr 02:00:00:00:96:01 nud permanent dev " + h};
        const std::vector<std::string> inside = {
            "sysctl -qw net.ipv6.conf." + p + ".disable_ipv6=1",
            "ip addr add " + std::string(kFarAddr) + "/24 dev " + p,
            "ip link set lo up",
            "ip link set " + p + " up",
            "ip route add 198.18.151.0/24 dev " + p,
            "ip neigh replace " + std::string(kHostAddr) +
                " lladdr 02:00:00:00:95:01 nud permanent dev " + p};
        ASSERT_TRUE(test::sh("ip netns add " + net->ns));
        for (const auto& c : host)
            ASSERT_TRUE(test::sh(c)) << c;
        for (const auto& c : inside)
            ASSERT_TRUE(net->inside(c)) << c;

        // Scripts readable by the other user, under names of their own.
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
        for (const char* name : {"fetch.py", "chat.py", "other.py", "burst.py"})
            std::filesystem::copy_file(kScripts / "client.py", dir.path() / name);
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        server = ::fork();
        ASSERT_GE(server, 0);
        if (server == 0) {
            ::dup2(out[1], 1);
            ::execlp("ip", "ip", "netns", "exec", net->ns.c_str(), "/usr/bin/python3",
                     (kScripts / "server.py").c_str(), kFarAddr, std::to_string(kPort).c_str(),
                     nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        char ready[6] = {};
        ASSERT_EQ(::read(out[0], ready, 5), 5) << "the server in the namespace did not start";
        ::close(out[0]);
    }

    void TearDown() override {
        if (server > 0) {
            ::kill(server, SIGKILL);
            ::waitpid(server, nullptr, 0);
        }
        net.reset();
    }

    // Runs one program (as `user` when given) to its end; returns what crossed the link.
    test::IpBytes run(const std::string& script, const std::string& args,
                      const std::string& user = {}) {
        const test::IpBytes before = test::linkIpBytes(net->host);
        const std::string as =
            user.empty() ? "" : "setpriv --reuid=" + user + " --regid=" + user + " --clear-groups ";
        EXPECT_TRUE(test::sh("timeout 30 " + as + "/usr/bin/python3 " +
                             (dir.path() / script).string() + " " + kFarAddr + " " +
                             std::to_string(kPort) + " " + args));
        return test::settleLink(net->host, before);
    }

    std::map<std::string, AppUsage> today(const CIPStat& stat) const {
        const auto lt = stat.apps() ? std::optional(*std::localtime(&m_now)) : std::nullopt;
        std::map<std::string, AppUsage> m;
        if (!lt)
            return m;
        const AppRecords r = stat.apps()->snapshot();
        for (const AppUsage& u : r.days[static_cast<std::size_t>(lt->tm_mday - 1)])
            m[u.name] = u;
        return m;
    }

    std::unique_ptr<test::VethNamespace> net;
    test::TempDir dir;
    pid_t server = -1;
    std::time_t m_now = std::time(nullptr);
};

TEST_F(AppAttributionTest,
       EachProgramsBytesAreFoundUnderItsName_ShortConnectionsToo_AnotherUsersUnderTheUser) {
    test::HelperCaptureRig rig;
    CIPStat& stat = *rig.stat;
    const int index = rig.indexOf(net->host);
    ASSERT_GE(index, 0) << "the veth is not in the adapter list";
    ASSERT_EQ(stat.initialise(index), 1) << stat.lastErrorText();
    ASSERT_NE(stat.apps(), nullptr);
    stat.setLanOnly(1);

    // Each holds its socket a moment before it talks: long enough to be seen alive, as a program
    // of any real exchange is.
    const test::IpBytes fetch = run("fetch.py", "tcp 300000 400");
    const test::IpBytes chat = run("chat.py", "udp 40 500 400");
    const test::IpBytes other = run("other.py", "tcp 100000 400", "65534");
    // Then a series of connections of some 30 ms each, as a web page's requests are, to the
    // port another user's program used last: each must be burst.py's, none guessed to be that
    // user's.
    const test::IpBytes burst = run("burst.py", "short 40 20000 30");
    ASSERT_GT(fetch.received, 300000u);
    ASSERT_GT(burst.received, 40u * 20000);
    ASSERT_GT(chat.sent, 40u * 500);
    ASSERT_GT(other.received, 100000u);

    const std::string python = std::filesystem::canonical("/usr/bin/python3").filename().string();
    const std::string fetchName = python + " fetch.py";
    const std::string chatName = python + " chat.py";
    const std::string burstName = python + " burst.py";
    passwd* nobody = ::getpwuid(65534);
    const std::string otherName = std::string("user ") + (nobody ? nobody->pw_name : "65534");
    // The capture hands frames over in blocks, and a flow waits for its program a moment.
    std::map<std::string, AppUsage> got;
    for (int i = 0; i < 100; ++i) {
        got = today(stat);
        if (got[fetchName].total() == fetch.sent + fetch.received &&
            got[chatName].total() == chat.sent + chat.received &&
            got[otherName].total() == other.sent + other.received &&
            got[burstName].total() == burst.sent + burst.received)
            break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(got[fetchName], (AppUsage{fetchName, fetch.sent, fetch.received}));
    EXPECT_EQ(got[chatName], (AppUsage{chatName, chat.sent, chat.received}));
    EXPECT_EQ(got[otherName], (AppUsage{otherName, other.sent, other.received}));
    EXPECT_EQ(got[burstName], (AppUsage{burstName, burst.sent, burst.received}));
    EXPECT_EQ(got[kNotAProgram].total(), 0u);
    // Every byte of the day's records is some program's.
    std::uint64_t all = 0;
    for (const auto& [name, u] : got)
        all += u.total();
    const int day = std::localtime(&m_now)->tm_mday;
    std::uint64_t records = 0;
    for (int k = 0; k < kCategoryCount; ++k)
        if (k != kCustom)
            records += stat.dayRecord(Direction::Sent, day, k) +
                       stat.dayRecord(Direction::Received, day, k);
    EXPECT_EQ(all, records);
    stat.stopCapture();
}

} // namespace
} // namespace tn
