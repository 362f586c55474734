// Traffic per program under load, in a network namespace: a long TCP download, 200 short TCP
// connections one after another and a UDP exchange run together. Prints, per program, the IP
// bytes the link carried for it (from a tcpdump of the link, told apart by server port), the
// bytes Tallynet attributed to it, and nethogs's figures on the same run when it is installed;
// then the CPU time of this process (capture worker and socket lookups) for the same traffic
// with counting per program off and on. Needs root. Other processes share the machine's cores,
// so the CPU figures vary from run to run.
#include "integration/helper_capture_rig.h"
#include "support/netns.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace tn;
using namespace std::chrono_literals;

constexpr const char* kHostAddr = "198.18.171.1";
constexpr const char* kFarAddr = "198.18.172.1";
const std::filesystem::path kScripts =
    std::filesystem::path(TALLYNET_SOURCE_DIR) / "tests" / "integration" / "apps";

struct Program {
    const char* script;
    int port;
    std::string args;
};
const Program kPrograms[] = {
    {"long.py", 8081, "tcp 100000000 0"},
    {"short.py", 8082, "short 200 20000"},
    {"udp.py", 8083, "udp 20000 1000 0"},
};

pid_t spawn(const std::string& cmd) {
    const pid_t p = ::fork();
    if (p == 0) {
        ::setpgid(0, 0);
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
        ::_exit(127);
    }
    return p;
}

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// IP bytes per server port in a pcap file of Ethernet frames.
std::map<int, std::uint64_t> bytesByPort(const std::filesystem::path& file) {
    std::map<int, std::uint64_t> out;
    std::ifstream in(file, std::ios::binary);
    char header[24];
    if (!in.read(header, 24))
        return out;
    char rec[16];
    std::vector<unsigned char> buf;
    while (in.read(rec, 16)) {
        std::uint32_t incl = 0;
        std::memcpy(&incl, rec + 8, 4);
        if (incl > 262144)
            break; // the end of a file cut while it was written
        buf.resize(incl);
        if (!in.read(reinterpret_cast<char*>(buf.data()), incl))
            break;
        if (incl < 14 + 24 || buf[12] != 0x08 || buf[13] != 0x00)
            continue;
        const unsigned char* ip = buf.data() + 14;
        const unsigned len = (ip[2] << 8) | ip[3];
        const unsigned ihl = (ip[0] & 15) * 4;
        if (incl < 14 + ihl + 4)
            continue;
        const int sport = (ip[ihl] << 8) | ip[ihl + 1];
        const int dport = (ip[ihl + 2] << 8) | ip[ihl + 3];
        for (const Program& p : kPrograms)
            if (sport == p.port || dport == p.port)
                out[p.port] += len;
    }
    return out;
}

struct Round {
    double cpu = 0;
    double seconds = 0;
    std::map<std::string, AppUsage> apps;
    std::map<int, std::uint64_t> truth;
    std::string nethogs;
};

Round run(test::VethNamespace& net, const std::filesystem::path& dir, bool apps, bool observe) {
    Round r;
    test::HelperCaptureRig rig;
    rig.global->CountApps = apps ? 1 : 0;
    const int index = rig.indexOf(net.host);
    if (index < 0 || rig.stat->initialise(index) != 1) {
        std::fprintf(stderr, "capture did not open: %s\n", rig.stat->lastErrorText().c_str());
        std::exit(1);
    }
    rig.stat->setLanOnly(1);
    std::this_thread::sleep_for(500ms);
    pid_t dump = -1, hogs = -1;
    if (observe) {
        dump = spawn("tcpdump -q -n -s 80 -i " + net.host + " -w " + (dir / "link.pcap").string() +
                     " 2>/dev/null");
        if (test::sh("command -v nethogs"))
            hogs = spawn("nethogs -t -C -v 3 -d 1 " + net.host + " > " +
                         (dir / "nethogs.txt").string() + " 2>/dev/null");
        std::this_thread::sleep_for(1500ms);
    }
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<pid_t> clients;
    for (const Program& p : kPrograms)
        clients.push_back(spawn("/usr/bin/python3 " + (dir / p.script).string() + " " + kFarAddr +
                                " " + std::to_string(p.port) + " " + p.args + " > " +
                                (dir / (std::string(p.script) + ".out")).string()));
    for (pid_t c : clients)
        ::waitpid(c, nullptr, 0);
    std::fprintf(stderr, "round with counting per program %s: traffic done\n", apps ? "on" : "off");
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // The last frames, and the flows still waiting for their program.
    std::this_thread::sleep_for(std::chrono::seconds(CAppCounter::kGiveUpSeconds + 2));
    r.cpu = cpuSeconds() - cpu0;
    if (observe) {
        for (pid_t p : {dump, hogs})
            if (p > 0) {
                ::kill(-p, SIGINT);
                ::waitpid(p, nullptr, 0);
            }
        r.truth = bytesByPort(dir / "link.pcap");
        std::ifstream in(dir / "nethogs.txt");
        std::string line, block;
        while (std::getline(in, line)) {
            if (line == "Refreshing:")
                block.clear();
            else
                block += "    " + line + "\n";
        }
        r.nethogs = block;
    }
    if (rig.stat->apps()) {
        const auto lt = rig.os.clock->toLocal(rig.os.clock->now()).value();
        const AppRecords records = rig.stat->apps()->snapshot();
        for (const AppUsage& u : records.days[static_cast<std::size_t>(lt.day - 1)])
            r.apps[u.name] = u;
    }
    rig.stat->stopCapture();
    return r;
}

} // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "needs root: creates a network namespace and a veth pair\n");
        return 77;
    }
    test::VethNamespace net("bap");
    const std::string& h = net.host;
    const std::string& p = net.peer;
    for (const std::string& c : std::vector<std::string>{
             "ip netns add " + net.ns, "ip link add " + h + " type veth peer name " + p,
             "ip link set " + p + " netns " + net.ns,
             "sysctl -qw net.ipv6.conf." + h + ".disable_ipv6=1",
             "ip addr add " + std::string(kHostAddr) + "/24 dev " + h, "ip link set " + h + " up",
             "ip route add 198.18.172.0/24 dev " + h})
        if (!test::sh(c)) {
            std::fprintf(stderr, "failed: %s\n", c.c_str());
            return 1;
        }
    for (const std::string& c : std::vector<std::string>{
             "sysctl -qw net.ipv6.conf." + p + ".disable_ipv6=1",
             "ip addr add " + std::string(kFarAddr) + "/24 dev " + p, "ip link set lo up",
             "ip link set " + p + " up", "ip route add 198.18.171.0/24 dev " + p})
        if (!net.inside(c)) {
            std::fprintf(stderr, "failed: %s\n", c.c_str());
            return 1;
        }
    test::TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    std::vector<pid_t> servers;
    for (const Program& prog : kPrograms) {
        std::filesystem::copy_file(kScripts / "client.py", dir.path() / prog.script);
        servers.push_back(spawn("ip netns exec " + net.ns + " /usr/bin/python3 " +
                                (kScripts / "server.py").string() + " " + kFarAddr + " " +
                                std::to_string(prog.port) + " > /dev/null"));
    }
    std::this_thread::sleep_for(1500ms);

    const Round off = run(net, dir.path(), false, false);
    const Round on = run(net, dir.path(), true, true);
    for (pid_t s : servers) {
        ::kill(-s, SIGKILL);
        ::waitpid(s, nullptr, 0);
    }

    const std::string python = std::filesystem::canonical("/usr/bin/python3").filename().string();
    std::printf("Traffic per program, three programs at once (%.1f s)\n", on.seconds);
    std::printf("%-26s %16s %16s %8s\n", "program", "on the link", "attributed", "share");
    std::uint64_t attributed = 0;
    for (const Program& prog : kPrograms) {
        const std::string name = python + " " + prog.script;
        const std::uint64_t truth = on.truth.count(prog.port) ? on.truth.at(prog.port) : 0;
        const std::uint64_t got = on.apps.count(name) ? on.apps.at(name).total() : 0;
        attributed += got;
        std::printf("%-26s %16llu %16llu %7.2f%%\n", name.c_str(),
                    static_cast<unsigned long long>(truth), static_cast<unsigned long long>(got),
                    truth ? 100.0 * static_cast<double>(got) / static_cast<double>(truth) : 0.0);
    }
    std::printf("All names Tallynet gave:\n");
    for (const auto& [name, u] : on.apps)
        std::printf("    %-40s %16llu\n", name.c_str(), static_cast<unsigned long long>(u.total()));
    std::printf("nethogs (last refresh: program/pid/uid, sent and received MB):\n%s",
                on.nethogs.empty() ? "    (not installed or no output)\n" : on.nethogs.c_str());
    std::printf("CPU of the window process for the same traffic: %.3f s with counting per "
                "program off, %.3f s on (%.2fx; the cores are shared, figures vary)\n",
                off.cpu, on.cpu, off.cpu > 0 ? on.cpu / off.cpu : 0.0);
    return 0;
}
