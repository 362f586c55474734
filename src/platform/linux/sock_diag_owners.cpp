#include "platform/linux/sock_diag_owners.h"

#include "app/program_name.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tn {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// While flows are being asked about, every socket is listed this often; most flows are found
// by their own lookup, the list is for those that end before they are asked about.
constexpr auto kBusyInterval = 30s;
// UDP sockets are listed every second: a datagram exchange may end before its first datagram
// is asked about, and the UDP tables are quick to walk (a walk of TCP's established hash costs
// a millisecond or two, and a TCP connection is found by its lookup or after its notice).
constexpr auto kUdpInterval = 1s;
// A socket went that was never seen: its family is listed again at once (at most this often),
// to catch its program's next connection alive. Short connections come in series.
constexpr auto kMissedListInterval = 50ms;
// Connections to one remote port that end within this of each other are taken for one series.
constexpr auto kSeriesGap = 1s;
// The newest processes whose sockets are read just before such a list.
constexpr std::size_t kPrescanProcesses = 8;
// Nobody asked for this long: the capture is idle or stopped.
constexpr auto kIdleAfter = 30s;
// How long a socket's owner is remembered after the socket went.
constexpr auto kKeep = 120s;
constexpr std::size_t kMaxCmdline = 8192;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

bool isV4Mapped(const std::uint8_t* a) {
    static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(a, kPrefix, 12) == 0;
}

bool isZero(const std::array<std::uint8_t, 16>& a) {
    return std::all_of(a.begin(), a.end(), [](std::uint8_t b) { return b == 0; });
}

FlowKey remoteOnly(const FlowKey& k) {
    FlowKey r = k;
    r.local = {};
    r.localPort = 0;
    return r;
}

FlowKey localOnly(const FlowKey& k, bool withAddress) {
    FlowKey r = k;
    r.remote = {};
    r.remotePort = 0;
    if (!withAddress)
        r.local = {};
    return r;
}

// The key of a diagnostics message; an IPv4 flow on a dual-stack IPv6 socket as IPv4.
FlowKey keyOf(const inet_diag_msg& m, int protocol) {
    FlowKey k;
    k.protocol = static_cast<std::uint8_t>(protocol);
    k.localPort = ntohs(m.id.idiag_sport);
    k.remotePort = ntohs(m.id.idiag_dport);
    const auto* src = reinterpret_cast<const std::uint8_t*>(m.id.idiag_src);
    const auto* dst = reinterpret_cast<const std::uint8_t*>(m.id.idiag_dst);
    if (m.idiag_family == AF_INET6 && !(isV4Mapped(src) && isV4Mapped(dst))) {
        k.family = 6;
        std::memcpy(k.local.data(), src, 16);
        std::memcpy(k.remote.data(), dst, 16);
    } else {
        k.family = 4;
        const bool mapped = m.idiag_family == AF_INET6;
        std::memcpy(k.local.data(), src + (mapped ? 12 : 0), 4);
        std::memcpy(k.remote.data(), dst + (mapped ? 12 : 0), 4);
    }
    return k;
}

struct DiagRequest {
    nlmsghdr nlh;
    inet_diag_req_v2 req;
};

DiagRequest diagRequest(int family, int protocol, std::uint16_t flags) {
    DiagRequest msg{};
    msg.nlh.nlmsg_len = sizeof msg;
    msg.nlh.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    msg.nlh.nlmsg_flags = flags;
    msg.req.sdiag_family = static_cast<std::uint8_t>(family);
    msg.req.sdiag_protocol = static_cast<std::uint8_t>(protocol);
    return msg;
}

bool sendToKernel(int fd, const DiagRequest& msg) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return ::sendto(fd, &msg, sizeof msg, 0, reinterpret_cast<const sockaddr*>(&kernel),
                    sizeof kernel) >= 0;
}

} // namespace

std::size_t SockDiagOwners::KeyHash::operator()(const FlowKey& k) const {
    std::uint64_t w[5];
    std::memcpy(w, &k, sizeof w);
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t v : w) {
        h ^= v;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    return static_cast<std::size_t>(h);
}

SockDiagOwners::SockDiagOwners(std::string procRoot)
    : m_proc(std::move(procRoot)), m_uid(static_cast<std::uint32_t>(::geteuid())) {}

SockDiagOwners::~SockDiagOwners() {
    m_stop.store(true);
    if (m_wake.get() >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_wake.get(), &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
}

void SockDiagOwners::start() {
    if (m_started.exchange(true))
        return;
    m_diag = UniqueFd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    // One listener per protocol: a notice itself does not say whether it was TCP or UDP.
    for (int protocol : {IPPROTO_TCP, IPPROTO_UDP}) {
        UniqueFd& fd = protocol == IPPROTO_TCP ? m_destroyedTcp : m_destroyedUdp;
        fd = UniqueFd(
            ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG));
        if (fd.get() < 0)
            continue;
        sockaddr_nl addr{};
        addr.nl_family = AF_NETLINK;
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            continue;
        const int groups[2] = {
            protocol == IPPROTO_TCP ? SKNLGRP_INET_TCP_DESTROY : SKNLGRP_INET_UDP_DESTROY,
            protocol == IPPROTO_TCP ? SKNLGRP_INET6_TCP_DESTROY : SKNLGRP_INET6_UDP_DESTROY};
        for (int group : groups)
            ::setsockopt(fd.get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group);
        // A busy machine destroys many sockets: room for a burst between two reads.
        const int bytes = 1 << 20;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    if (m_diag.get() < 0 || m_wake.get() < 0)
        return;
    m_replies.resize((1 << 16) / sizeof m_replies[0]);
    m_thread = std::thread([this] { run(); });
}

void SockDiagOwners::run() {
    Clock::time_point lastLook{};
    Clock::time_point lastUdpLook{};
    Clock::time_point lastMissedList{};
    while (!m_stop.load()) {
        const Clock::time_point now = Clock::now();
        // Lists serve flows being asked about; with none for a while (an idle line, capture
        // stopped), the thread waits for a question or a notice and costs nothing.
        const bool asked = nowNs() - m_lastAskedNs.load() <
                           std::chrono::duration_cast<std::chrono::nanoseconds>(kIdleAfter).count();
        if (!asked)
            m_missedFamilies = 0;
        if (asked && now - lastLook >= kBusyInterval) {
            lookNow();
            lastLook = lastUdpLook = now;
            m_missedFamilies = 0;
        } else if (asked && now - lastUdpLook >= kUdpInterval && m_missedFamilies == 0) {
            std::vector<Socket> all;
            for (int family : {AF_INET, AF_INET6})
                dump(family, IPPROTO_UDP, all);
            lastUdpLook = now;
            learn(all);
        } else if (m_missedFamilies != 0 && now - lastMissedList >= kMissedListInterval) {
            prescan();
            std::vector<Socket> all;
            for (int family : {AF_INET, AF_INET6})
                if (m_missedFamilies & (family == AF_INET ? 1 : 2))
                    for (int protocol : {IPPROTO_TCP, IPPROTO_UDP})
                        dump(family, protocol, all);
            m_missedFamilies = 0;
            lastMissedList = now;
            learn(all);
        }
        std::int64_t wait = -1;
        if (asked)
            wait = std::max<std::int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::min(lastLook + kBusyInterval, lastUdpLook + kUdpInterval) - Clock::now())
                    .count(),
                1);
        if (m_missedFamilies != 0)
            wait = wait < 0 ? kMissedListInterval.count()
                            : std::min<std::int64_t>(wait, kMissedListInterval.count());
        pollfd fds[3] = {{m_wake.get(), POLLIN, 0},
                         {m_destroyedTcp.get(), POLLIN, 0},
                         {m_destroyedUdp.get(), POLLIN, 0}};
        const int n = ::poll(fds, 3, static_cast<int>(wait));
        if (n > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto r = ::read(m_wake.get(), &count, sizeof count);
        }
        if (n > 0 && (fds[1].revents & POLLIN))
            readDestroyed(m_destroyedTcp.get(), IPPROTO_TCP);
        if (n > 0 && (fds[2].revents & POLLIN))
            readDestroyed(m_destroyedUdp.get(), IPPROTO_UDP);
        answerQueries();
    }
}

bool SockDiagOwners::dump(int family, int protocol, std::vector<Socket>& out) {
    DiagRequest msg = diagRequest(family, protocol, NLM_F_REQUEST | NLM_F_DUMP);
    msg.nlh.nlmsg_seq = static_cast<std::uint32_t>(m_looks.load() + 1);
    // Time-wait and half-open sockets have no owner to tell: not asked for.
    msg.req.idiag_states =
        protocol == IPPROTO_TCP
            ? ~((1u << TCP_TIME_WAIT) | (1u << TCP_SYN_RECV) | (1u << TCP_LISTEN))
            : ~0u;
    return sendToKernel(m_diag.get(), msg) && receive(protocol, out);
}

bool SockDiagOwners::lookup(const FlowKey& flow, std::vector<Socket>& out) {
    // The kernel looks a UDP socket up as for a datagram arriving: the remote end first.
    if (flow.protocol == IPPROTO_UDP) {
        FlowKey swapped = flow;
        std::swap(swapped.local, swapped.remote);
        std::swap(swapped.localPort, swapped.remotePort);
        return lookupAs(swapped, out);
    }
    return lookupAs(flow, out);
}

bool SockDiagOwners::lookupAs(const FlowKey& flow, std::vector<Socket>& out) {
    // An IPv4 flow may be on an IPv6 socket that takes both: asked both ways.
    for (int family : {flow.family == 4 ? AF_INET : AF_INET6, AF_INET6}) {
        DiagRequest msg = diagRequest(family, flow.protocol, NLM_F_REQUEST);
        msg.req.idiag_states = ~0u;
        msg.req.id.idiag_sport = htons(flow.localPort);
        msg.req.id.idiag_dport = htons(flow.remotePort);
        msg.req.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
        msg.req.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
        auto* src = reinterpret_cast<std::uint8_t*>(msg.req.id.idiag_src);
        auto* dst = reinterpret_cast<std::uint8_t*>(msg.req.id.idiag_dst);
        if (family == AF_INET || flow.family == 6) {
            std::memcpy(src, flow.local.data(), flow.family == 4 ? 4 : 16);
            std::memcpy(dst, flow.remote.data(), flow.family == 4 ? 4 : 16);
        } else {
            src[10] = src[11] = dst[10] = dst[11] = 0xFF;
            std::memcpy(src + 12, flow.local.data(), 4);
            std::memcpy(dst + 12, flow.remote.data(), 4);
        }
        if (!sendToKernel(m_diag.get(), msg))
            return false;
        const std::size_t before = out.size();
        receive(flow.protocol, out);
        if (out.size() > before)
            return true;
        if (flow.family == 6)
            break;
    }
    return false;
}

bool SockDiagOwners::receive(int protocol, std::vector<Socket>& out) {
    auto* buf = reinterpret_cast<std::uint8_t*>(m_replies.data());
    const std::size_t room = m_replies.size() * sizeof m_replies[0];
    for (;;) {
        const ssize_t n = ::recv(m_diag.get(), buf, room, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        auto left = static_cast<unsigned>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE)
                return true;
            if (h->nlmsg_type == NLMSG_ERROR) {
                return false;
            }
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            const bool single = !(h->nlmsg_flags & NLM_F_MULTI);
            inet_diag_msg m;
            std::memcpy(&m, NLMSG_DATA(h), sizeof m);
            Socket s;
            s.key = keyOf(m, protocol);
            s.wildcard = s.key.remotePort == 0 && isZero(s.key.remote);
            s.uid = m.idiag_uid;
            s.inode = m.idiag_inode;
            s.state = m.idiag_state;
            out.push_back(s);
            if (single)
                return true;
        }
    }
}

void SockDiagOwners::readDestroyed(int fd, int protocol) {
    auto* buf = reinterpret_cast<std::uint8_t*>(m_replies.data());
    const std::size_t room = m_replies.size() * sizeof m_replies[0];
    const Clock::time_point now = Clock::now();
    bool missed = false;
    for (;;) {
        const ssize_t n = ::recv(fd, buf, room, 0);
        if (n <= 0) {
            // ENOBUFS: notices were lost; a list makes up for it.
            if (n < 0 && errno == ENOBUFS) {
                missed = true;
                m_missedFamilies = 3;
            }
            if (n < 0 && (errno == EINTR || errno == ENOBUFS))
                continue;
            break;
        }
        auto left = static_cast<unsigned>(n);
        const std::lock_guard lock(m_mutex);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buf); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            inet_diag_msg m;
            std::memcpy(&m, NLMSG_DATA(h), sizeof m);
            const FlowKey k = keyOf(m, protocol);
            if (m_flows.count(k) || k.remotePort == 0)
                continue;
            m_gone[k] = now;
            missed = true;
            // A list is taken to catch the next connection of a series alive, until one of
            // the series was seen: a sighting from before the series began may be another
            // program's that talked to the same port.
            Series& series = m_series[remoteOnly(k)];
            if (now - series.lastNotice > kSeriesGap)
                series.start = now;
            series.lastNotice = now;
            const auto seen = m_byRemote.find(remoteOnly(k));
            if (seen == m_byRemote.end() || seen->second.last < series.start)
                m_missedFamilies |= m.idiag_family == AF_INET ? 1 : 2;
        }
    }
    if (missed)
        m_knowledge.fetch_add(1);
}

std::string SockDiagOwners::userName(std::uint32_t uid) {
    if (const auto it = m_users.find(uid); it != m_users.end())
        return it->second;
    passwd pw{};
    passwd* found = nullptr;
    std::vector<char> text(16384);
    std::string name = "user " + std::to_string(uid);
    if (::getpwuid_r(static_cast<uid_t>(uid), &pw, text.data(), text.size(), &found) == 0 &&
        found && found->pw_name && *found->pw_name)
        name = std::string("user ") + found->pw_name;
    m_users.emplace(uid, name);
    return name;
}

std::string SockDiagOwners::programOf(pid_t pid) const {
    const std::string dir = m_proc + "/" + std::to_string(pid);
    char exe[4096];
    const ssize_t n = ::readlink((dir + "/exe").c_str(), exe, sizeof exe - 1);
    std::string exePath = n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
    std::vector<std::string> argv;
    const UniqueFd fd(::open((dir + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() >= 0) {
        std::string all(kMaxCmdline, '\0');
        const ssize_t got = ::read(fd.get(), all.data(), all.size());
        all.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        for (std::size_t at = 0; at < all.size();) {
            const std::size_t end = all.find('\0', at);
            argv.push_back(all.substr(at, end == std::string::npos ? std::string::npos : end - at));
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
    }
    if (exePath.empty() && argv.empty()) {
        const UniqueFd comm(::open((dir + "/comm").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        char c[64] = {};
        if (comm.get() >= 0 && ::read(comm.get(), c, sizeof c - 1) > 0) {
            std::string s(c);
            if (!s.empty() && s.back() == '\n')
                s.pop_back();
            exePath = s;
        }
    }
    return programName(exePath, argv);
}

template <class Each> void SockDiagOwners::forEachSocket(pid_t pid, Each each) const {
    const std::string fdDir = m_proc + "/" + std::to_string(pid) + "/fd";
    const UniqueFd dfd(::open(fdDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.get() < 0)
        return;
    DIR* d = ::fdopendir(::dup(dfd.get()));
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        char link[64];
        const ssize_t n = ::readlinkat(dfd.get(), e->d_name, link, sizeof link - 1);
        if (n <= 8 || std::memcmp(link, "socket:[", 8) != 0)
            continue;
        link[n] = '\0';
        each(std::strtoull(link + 8, nullptr, 10));
    }
    ::closedir(d);
}

std::vector<pid_t> SockDiagOwners::userPids(std::size_t most) const {
    // This user's processes, the newest first: a socket not yet found is most often a new
    // program's (a download tool, a script). Only this user's: others' may not be looked into.
    std::vector<pid_t> all;
    DIR* d = ::opendir(m_proc.c_str());
    if (!d)
        return all;
    while (dirent* e = ::readdir(d)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid > 0 && *end == '\0')
            all.push_back(static_cast<pid_t>(pid));
    }
    std::sort(all.begin(), all.end(), std::greater<>());
    std::vector<pid_t> mine;
    for (pid_t pid : all) {
        if (mine.size() >= most)
            break;
        struct stat st {};
        if (::fstatat(::dirfd(d), std::to_string(pid).c_str(), &st, 0) == 0 && st.st_uid == m_uid)
            mine.push_back(pid);
    }
    ::closedir(d);
    return mine;
}

void SockDiagOwners::prescan() {
    // Taken just before a list: a connection of a few milliseconds is then open both here and
    // in the list, where looking for its inode only afterwards would find it closed.
    m_early.clear();
    std::vector<pid_t> pids = m_recentPids;
    for (pid_t pid : userPids(kPrescanProcesses))
        if (std::find(pids.begin(), pids.end(), pid) == pids.end())
            pids.push_back(pid);
    for (pid_t pid : pids)
        forEachSocket(pid, [&](std::uint64_t inode) { m_early.emplace(inode, pid); });
}

void SockDiagOwners::findInodes(const std::vector<std::uint64_t>& wanted) {
    std::vector<std::uint64_t> left;
    std::vector<pid_t> recent;
    std::map<pid_t, std::string> early;
    for (std::uint64_t inode : wanted) {
        const auto it = m_early.find(inode);
        if (it == m_early.end()) {
            left.push_back(inode);
            continue;
        }
        auto [name, fresh] = early.try_emplace(it->second);
        if (fresh)
            name->second = programOf(it->second);
        m_inodeNames[inode] = name->second;
        if (std::find(recent.begin(), recent.end(), it->second) == recent.end())
            recent.push_back(it->second);
    }
    m_early.clear();
    std::sort(left.begin(), left.end());
    const auto scan = [&](pid_t pid) {
        std::string name;
        bool any = false;
        forEachSocket(pid, [&](std::uint64_t inode) {
            const auto it = std::lower_bound(left.begin(), left.end(), inode);
            if (it == left.end() || *it != inode)
                return;
            if (name.empty())
                name = programOf(pid);
            m_inodeNames[inode] = name;
            left.erase(it);
            any = true;
        });
        return any;
    };
    for (pid_t pid : m_recentPids)
        if (!left.empty() && scan(pid))
            recent.push_back(pid);
    if (!left.empty()) {
        for (pid_t pid : userPids(SIZE_MAX)) {
            if (left.empty())
                break;
            if (std::find(m_recentPids.begin(), m_recentPids.end(), pid) == m_recentPids.end() &&
                scan(pid))
                recent.push_back(pid);
        }
    }
    for (pid_t pid : m_recentPids)
        if (recent.size() < 32 && std::find(recent.begin(), recent.end(), pid) == recent.end())
            recent.push_back(pid);
    m_recentPids.swap(recent);
}

std::string SockDiagOwners::nameOf(const Socket& s, std::vector<std::uint64_t>& unknown) {
    // A time-wait socket names nobody (its uid reads 0): only that the flow was local.
    if (s.state == TCP_TIME_WAIT)
        return {};
    if (s.uid != m_uid)
        return userName(s.uid);
    if (s.inode == 0)
        return {};
    if (const auto it = m_inodeNames.find(s.inode); it != m_inodeNames.end())
        return it->second;
    if (!m_unfindable.count(s.inode))
        unknown.push_back(s.inode);
    return {};
}

void SockDiagOwners::lookNow() {
    if (!m_started.load())
        start();
    if (m_diag.get() < 0)
        return;
    std::vector<Socket> all;
    for (int family : {AF_INET, AF_INET6})
        for (int protocol : {IPPROTO_TCP, IPPROTO_UDP})
            dump(family, protocol, all);
    m_looks.fetch_add(1);
    learn(all);
    // Inodes of sockets that went are forgotten with them.
    if (m_inodeNames.size() + m_unfindable.size() > 4 * all.size() + 64) {
        std::unordered_map<std::uint64_t, std::string> kept;
        std::unordered_map<std::uint64_t, bool> still;
        for (const Socket& s : all) {
            if (const auto it = m_inodeNames.find(s.inode); it != m_inodeNames.end())
                kept.insert(*it);
            if (m_unfindable.count(s.inode))
                still.emplace(s.inode, true);
        }
        m_inodeNames.swap(kept);
        m_unfindable.swap(still);
    }
}

void SockDiagOwners::answerQueries() {
    std::vector<FlowKey> queries;
    {
        const std::lock_guard lock(m_mutex);
        queries.swap(m_queries);
    }
    if (queries.empty())
        return;
    std::vector<Socket> found;
    for (const FlowKey& q : queries)
        lookup(q, found);
    learn(found);
}

void SockDiagOwners::learn(const std::vector<Socket>& all) {
    std::vector<std::uint64_t> unknown;
    for (const Socket& s : all)
        nameOf(s, unknown);
    if (!unknown.empty())
        findInodes(unknown);
    for (std::uint64_t inode : unknown)
        if (!m_inodeNames.count(inode))
            m_unfindable.emplace(inode, true);
    const Clock::time_point now = Clock::now();
    bool changed = false;
    {
        const std::lock_guard lock(m_mutex);
        std::vector<std::uint64_t> ignored;
        for (const Socket& s : all) {
            const std::string name = nameOf(s, ignored);
            if (name.empty()) {
                // Closed by its program already (time-wait, or an orphan of this user): the
                // flow was this computer's, whose is guessed as for a socket seen only going.
                if (!s.wildcard && s.inode == 0 && !m_flows.count(s.key))
                    m_gone[s.key] = now;
                continue;
            }
            auto& map = s.wildcard ? m_wildcards : m_flows;
            Seen& seen = map[s.wildcard ? localOnly(s.key, true) : s.key];
            if (seen.name != name) {
                seen.name = name;
                changed = true;
            }
            seen.last = now;
            if (!s.wildcard)
                m_byRemote[remoteOnly(s.key)] = Seen{name, now};
        }
        static thread_local Clock::time_point lastExpiry{};
        if (now - lastExpiry >= 1s) {
            expire(now);
            lastExpiry = now;
        }
    }
    if (changed)
        m_knowledge.fetch_add(1);
}

void SockDiagOwners::expire(Clock::time_point now) {
    const auto old = [now](const Seen& s) { return now - s.last > kKeep; };
    std::erase_if(m_flows, [&](const auto& e) { return old(e.second); });
    std::erase_if(m_wildcards, [&](const auto& e) { return now - e.second.last > 2s; });
    std::erase_if(m_byRemote, [&](const auto& e) { return old(e.second); });
    std::erase_if(m_gone, [&](const auto& e) { return now - e.second > kKeep; });
    std::erase_if(m_series, [&](const auto& e) { return now - e.second.lastNotice > kKeep; });
}

std::optional<std::string> SockDiagOwners::ownerOf(const FlowKey& flow) {
    m_lastAskedNs.store(nowNs());
    if (!m_started.load())
        start();
    const std::lock_guard lock(m_mutex);
    if (const auto it = m_flows.find(flow); it != m_flows.end())
        return it->second.name;
    // A socket that is not connected takes any remote: by its local address, or bound to all.
    for (bool withAddress : {true, false})
        if (const auto it = m_wildcards.find(localOnly(flow, withAddress)); it != m_wildcards.end())
            return it->second.name;
    // Gone before it was seen: the flow waits, and its last guess is asked for when the capture
    // stops waiting. Meanwhile a list may catch the next connection of its series alive, which
    // makes the guess that program rather than whichever talked to the same port before.
    if (m_gone.count(flow))
        return std::nullopt;
    if (m_queries.size() < 4096)
        m_queries.push_back(flow);
    if (m_wake.get() >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_wake.get(), &one, sizeof one);
    }
    return std::nullopt;
}

std::optional<std::string> SockDiagOwners::lastGuess(const FlowKey& flow) {
    const std::lock_guard lock(m_mutex);
    if (const auto it = m_flows.find(flow); it != m_flows.end())
        return it->second.name;
    if (!m_gone.count(flow))
        return std::nullopt;
    if (const auto it = m_byRemote.find(remoteOnly(flow)); it != m_byRemote.end())
        return it->second.name;
    // A socket of this computer carried it, whose is not known.
    return std::string("Other programs");
}

} // namespace tn
