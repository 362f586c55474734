#pragma once
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace tn::test {

inline int sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

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
    VethNamespace(const std::string& tag)
        : ns("tn" + tag + std::to_string(::getpid())),
          host("tn" + tag + "h" + std::to_string(::getpid())),
          peer("tn" + tag + "n" + std::to_string(::getpid())) {
        cleanup();
    }
    ~VethNamespace() { cleanup(); }
    VethNamespace(const VethNamespace&) = delete;
    VethNamespace& operator=(const VethNamespace&) = delete;

    // Runs a command inside the namespace; 0 on success.
    int inside(const std::string& command) const {
        return sh("ip netns exec " + ns + " " + command);
    }
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
