#pragma once
#include "platform/linux/unique_fd.h"
#include "platform/socket_owners.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tn {

// Which program a flow is, without privilege. A thread of its own asks the kernel's socket
// diagnostics (NETLINK_SOCK_DIAG, open to every user) for the owner and inode of a socket, and
// finds the inodes among the open files of this user's own processes (/proc/<pid>/fd), the
// newest processes first. Sockets of other users count as "user <name>". A flow the capture
// asks about is looked up at once by its addresses and ports (a hash lookup in the kernel);
// while flows are being asked about, the UDP sockets are also listed once a second and all
// sockets every half minute (a walk of TCP's tables costs a millisecond or two), and on an idle
// line nothing runs at all.
//
// A socket that lived and went before it was asked about is not lost: the kernel tells every
// listener of its destruction (multicast groups of NETLINK_SOCK_DIAG, no privilege needed),
// though without owner or inode. Such a notice makes the thread read the sockets of the newest
// processes and list the sockets at once, so that the next connection of the same series is
// caught open with its program. A flow never seen open is given, when the capture stops
// waiting for it, to the program that last talked to the same remote address and port, else
// to "Other programs".
class SockDiagOwners final : public ISocketOwners {
public:
    // `procRoot` is where the process table is read ("/proc").
    explicit SockDiagOwners(std::string procRoot = "/proc");
    ~SockDiagOwners() override;
    SockDiagOwners(const SockDiagOwners&) = delete;
    SockDiagOwners& operator=(const SockDiagOwners&) = delete;

    void begin() override { start(); }
    std::optional<std::string> ownerOf(const FlowKey& flow) override;
    std::optional<std::string> lastGuess(const FlowKey& flow) override;
    std::uint64_t knowledge() const override { return m_knowledge.load(); }

    // Whole lists taken so far, for measurements.
    std::uint64_t looks() const { return m_looks.load(); }

private:
    struct KeyHash {
        std::size_t operator()(const FlowKey& k) const;
    };
    struct Seen {
        std::string name;
        std::chrono::steady_clock::time_point last;
    };
    struct Socket {
        FlowKey key;
        bool wildcard = false; // not connected: any remote (a UDP server, an unconnected socket)
        std::uint32_t uid = 0;
        std::uint64_t inode = 0;
        int state = 0;
    };

    void start();
    void run();
    void lookNow();
    bool dump(int family, int protocol, std::vector<Socket>& out);
    // The socket of one flow, asked by its addresses and ports.
    bool lookup(const FlowKey& flow, std::vector<Socket>& out);
    bool lookupAs(const FlowKey& request, std::vector<Socket>& out);
    bool receive(int protocol, std::vector<Socket>& out);
    void answerQueries();
    void learn(const std::vector<Socket>& sockets);
    void readDestroyed(int fd, int protocol);
    std::string nameOf(const Socket& s, std::vector<std::uint64_t>& unknownInodes);
    void findInodes(const std::vector<std::uint64_t>& inodes);
    template <class Each> void forEachSocket(pid_t pid, Each each) const;
    std::vector<pid_t> userPids(std::size_t most) const;
    void prescan();
    std::string programOf(pid_t pid) const;
    std::string userName(std::uint32_t uid);
    void expire(std::chrono::steady_clock::time_point now);

    const std::string m_proc;
    const std::uint32_t m_uid;
    UniqueFd m_diag;         // requests and dumps
    UniqueFd m_destroyedTcp; // destruction notices, one listener per protocol
    UniqueFd m_destroyedUdp;
    UniqueFd m_wake; // eventfd: stop
    // Replies are read into this, by the thread alone. A member, not thread-local storage:
    // static TLS is set up in every thread of the process, 64 KB each.
    std::vector<std::uint32_t> m_replies;
    std::thread m_thread;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_knowledge{1};
    std::atomic<std::uint64_t> m_looks{0};
    std::atomic<std::int64_t> m_lastAskedNs{0};
    int m_missedFamilies = 0; // bit 1 IPv4, bit 2 IPv6: sockets went unseen, list them again

    std::mutex m_mutex; // what the worker asks about, against what the thread learnt
    std::unordered_map<FlowKey, Seen, KeyHash> m_flows;
    std::unordered_map<FlowKey, Seen, KeyHash> m_wildcards; // remote part zero
    std::unordered_map<FlowKey, Seen, KeyHash> m_byRemote;  // local part zero: who talked there
    std::unordered_map<FlowKey, std::chrono::steady_clock::time_point, KeyHash> m_gone;
    struct Series {
        std::chrono::steady_clock::time_point start;
        std::chrono::steady_clock::time_point lastNotice;
    };
    std::unordered_map<FlowKey, Series, KeyHash> m_series; // unseen sockets going, per remote
    std::vector<FlowKey> m_queries; // asked and not found: looked up by the thread at once

    // The thread's own.
    std::unordered_map<std::uint64_t, std::string> m_inodeNames;
    std::unordered_map<std::uint64_t, bool> m_unfindable; // in no process of this user
    std::map<std::uint32_t, std::string> m_users;
    std::vector<pid_t> m_recentPids; // processes that held sockets lately: looked at first
    std::unordered_map<std::uint64_t, pid_t> m_early; // sockets read just before a list
};

} // namespace tn
