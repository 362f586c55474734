#pragma once
// Network namespaces for integration tests and benchmarks: test hosts get addresses from
// 198.18.0.0/15 and no route anywhere else. Needs root.
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace tn::test {

inline bool isRoot() {
    return ::geteuid() == 0;
}

// Runs a shell command; true when it exited with 0.
inline bool sh(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `ip -batch` with the given lines.
inline bool ipBatch(const std::vector<std::string>& lines) {
    std::string file = "/tmp/tallynet-ipbatch-" + std::to_string(::getpid());
    if (std::FILE* f = std::fopen(file.c_str(), "w")) {
        for (const auto& l : lines)
            std::fprintf(f, "%s\n", l.c_str());
        std::fclose(f);
    } else {
        return false;
    }
    const bool ok = sh("ip -batch " + file);
    std::remove(file.c_str());
    return ok;
}

// A named network namespace, deleted with the object (its interfaces go with it).
class NetNs {
public:
    explicit NetNs(std::string name) : m_name(std::move(name)) {
        sh("ip netns del " + m_name);
        m_ok = sh("ip netns add " + m_name) && sh("ip -n " + m_name + " link set lo up");
    }
    ~NetNs() { sh("ip netns del " + m_name); }
    NetNs(const NetNs&) = delete;
    NetNs& operator=(const NetNs&) = delete;
    bool ok() const { return m_ok; }
    const std::string& name() const { return m_name; }
    // Runs a command inside the namespace.
    bool exec(const std::string& cmd) const { return sh("ip netns exec " + m_name + " " + cmd); }

private:
    std::string m_name;
    bool m_ok = false;
};

// Moves the calling thread into a namespace and back out when destroyed. Sockets (netlink
// included) opened meanwhile belong to that namespace.
class EnterNetNs {
public:
    explicit EnterNetNs(const std::string& name) {
        m_home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        m_ok = m_home >= 0 && fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    ~EnterNetNs() {
        if (m_home >= 0) {
            if (m_ok)
                ::setns(m_home, CLONE_NEWNET);
            ::close(m_home);
        }
    }
    EnterNetNs(const EnterNetNs&) = delete;
    EnterNetNs& operator=(const EnterNetNs&) = delete;
    bool ok() const { return m_ok; }

private:
    int m_home = -1;
    bool m_ok = false;
};

// A unique short suffix for interface and namespace names (interface names hold 15 bytes).
inline std::string uniqueSuffix() {
    static int counter = 0;
    return std::to_string(::getpid() % 100000) + "x" + std::to_string(counter++);
}

// Counters of an interface of the host's own namespace.
inline std::uint64_t readCounter(const std::string& ifname, const char* name) {
    std::ifstream in("/sys/class/net/" + ifname + "/statistics/" + name);
    std::uint64_t v = 0;
    in >> v;
    return v;
}

// A network namespace joined to the host by a veth pair, removed with the object. Names carry
// a tag and the process id so that tests can run one after another or side by side.
class VethNamespace {
public:
    explicit VethNamespace(const std::string& tag)
        : ns("tn" + tag + std::to_string(::getpid())),
          host("tn" + tag + "h" + std::to_string(::getpid())),
          peer("tn" + tag + "n" + std::to_string(::getpid())) {
        cleanup();
    }
    ~VethNamespace() { cleanup(); }
    VethNamespace(const VethNamespace&) = delete;
    VethNamespace& operator=(const VethNamespace&) = delete;

    // Runs a command inside the namespace.
    bool inside(const std::string& command) const { return sh("ip netns exec " + ns + " " + command); }
    // Moves the calling process (a forked child) into the namespace.
    bool enter() const {
        const int fd = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        return ok;
    }

    const std::string ns;
    const std::string host;
    const std::string peer;

private:
    void cleanup() {
        sh("ip link del " + host);
        sh("ip netns del " + ns);
    }
};

} // namespace tn::test
