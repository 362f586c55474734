#pragma once
// A name resolver that never answers, for the process that calls enterSilentResolver(): the
// process moves into network and mount namespaces of its own, where /etc/resolv.conf names
// 127.0.0.1 and a UDP socket on 127.0.0.1:53 takes the queries without replying. Nothing
// leaves the machine. Needs root; call it in a child process or a program of its own.
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tn::test {

class SilentResolver {
public:
    // `timeoutSeconds` and `attempts` are the resolver's own retry options.
    bool enter(int timeoutSeconds, int attempts) {
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
            return false;
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        if (std::system("ip link set lo up >/dev/null 2>&1") != 0)
            return false;
        const std::string base = "/tmp/tallynet-silent-" + std::to_string(::getpid());
        const std::string resolv =
            "nameserver 127.0.0.1\noptions timeout:" + std::to_string(timeoutSeconds) +
            " attempts:" + std::to_string(attempts) + "\n";
        if (!bindText(base + ".resolv", resolv, "/etc/resolv.conf") ||
            !bindText(base + ".nss", "hosts: dns\n", "/etc/nsswitch.conf"))
            return false;
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(53);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return m_fd >= 0 && ::bind(m_fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    }
    ~SilentResolver() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SilentResolver() = default;
    SilentResolver(const SilentResolver&) = delete;
    SilentResolver& operator=(const SilentResolver&) = delete;

    int fd() const { return m_fd; }
    // Waits for the next query and swallows it; false when none came within `ms`.
    bool takeQuery(int ms) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return false;
        char buf[512];
        return ::recv(m_fd, buf, sizeof buf, 0) >= 0;
    }

private:
    static bool bindText(const std::string& file, const std::string& text, const char* target) {
        std::FILE* f = std::fopen(file.c_str(), "w");
        if (!f)
            return false;
        std::fputs(text.c_str(), f);
        std::fclose(f);
        const bool ok = ::mount(file.c_str(), target, nullptr, MS_BIND, nullptr) == 0;
        std::remove(file.c_str()); // the bind mount keeps the file's contents reachable
        return ok;
    }

    int m_fd = -1;
};

} // namespace tn::test
