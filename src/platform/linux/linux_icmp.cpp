#include "platform/linux/linux_icmp.h"

#include "platform/linux/helper_capture.h"
#include "platform/linux/unique_fd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace tn {

namespace {

sockaddr_in toSockaddr(const Ipv4Address& a) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    std::memcpy(&sa.sin_addr, a.octets, 4);
    return sa;
}

int setIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : errno;
}

// Waits until `fd` can be read. An eventfd lets the owner's stop request end the wait at once
// instead of after the whole timeout.
WaitResult waitForReadable(int fd, std::uint32_t timeoutMs, std::stop_token stop, int& error) {
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0) {
        error = errno;
        return WaitResult::Failed;
    }
    std::stop_callback onStop(stop, [&wake] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake.get(), &one, sizeof one);
    });
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake.get(), POLLIN, 0}};
    const int timeout = timeoutMs > 0x7fffffffu ? -1 : static_cast<int>(timeoutMs);
    for (;;) {
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            return WaitResult::Failed;
        }
        if (n == 0)
            return WaitResult::TimedOut;
        if (fds[1].revents != 0) {
            error = ECANCELED;
            return WaitResult::Failed;
        }
        return WaitResult::Readable;
    }
}

class LinuxIcmpSocket final : public IIcmpSocket {
public:
    LinuxIcmpSocket(int fd, bool raw) : m_fd(fd), m_raw(raw) {}

    bool receivesIpHeader() const override { return m_raw; }

    bool kernelIdentifier(std::uint16_t& identifier) const override {
        if (m_raw)
            return false;
        // A ping socket's local "port" is the identifier of its requests, in network order.
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        if (::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            return false;
        std::memcpy(&identifier, &sa.sin_port, sizeof identifier);
        return true;
    }

    int bind(const Ipv4Address& local) override {
        const sockaddr_in sa = toSockaddr(local);
        return ::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0
                                                                                          : errno;
    }
    int setTimeToLive(int ttl) override {
        return setIntOption(m_fd.get(), IPPROTO_IP, IP_TTL, ttl);
    }
    int setTypeOfService(int tos) override {
        return setIntOption(m_fd.get(), IPPROTO_IP, IP_TOS, tos);
    }
    int setDontFragment() override {
        return setIntOption(m_fd.get(), IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DO);
    }

    int sendTo(std::span<const std::uint8_t> message, const Ipv4Address& to) override {
        const sockaddr_in sa = toSockaddr(to);
        const ssize_t sent = ::sendto(m_fd.get(), message.data(), message.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
        if (sent < 0)
            return errno;
        return static_cast<std::size_t>(sent) == message.size() ? 0 : EMSGSIZE;
    }

    WaitResult waitReadable(std::uint32_t timeoutMs, std::stop_token stop, int& error) override {
        return waitForReadable(m_fd.get(), timeoutMs, stop, error);
    }

    bool receive(std::span<std::uint8_t> buffer, std::size_t& length, Ipv4Address& from,
                 int& error) override {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        // MSG_TRUNC reports the datagram's full length, so one too long for the buffer fails.
        const ssize_t n =
            ::recvfrom(m_fd.get(), buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&sa), &len);
        if (n < 0) {
            error = errno;
            return false;
        }
        if (static_cast<std::size_t>(n) > buffer.size()) {
            error = EMSGSIZE;
            return false;
        }
        length = static_cast<std::size_t>(n);
        std::memcpy(from.octets, &sa.sin_addr, 4);
        return true;
    }

private:
    UniqueFd m_fd;
    bool m_raw;
};

// The echo through the capture helper, for a user who may open no ICMP socket: the message the
// probe built is taken apart into the request's fixed fields, the helper sends the same message
// and answers with its reply's fields, from which the reply is put together again as a
// datagram socket would hand it over.
class HelperEchoSocket final : public IIcmpSocket {
    // The echo message: type, code, checksum, identifier, sequence, tick; then the filler.
    static constexpr std::size_t kEchoHead = 12;
    static constexpr std::uint8_t kEchoFiller = 0x45;

public:
    explicit HelperEchoSocket(HelperEcho echo) : m_echo(std::move(echo)) {}

    bool receivesIpHeader() const override { return false; }
    bool kernelIdentifier(std::uint16_t&) const override { return false; }

    int bind(const Ipv4Address& local) override {
        std::memcpy(m_request.source, local.octets, 4);
        return 0;
    }
    int setTimeToLive(int ttl) override {
        if (ttl < 1 || ttl > 255)
            return EINVAL;
        m_request.timeToLive = static_cast<std::uint8_t>(ttl);
        return 0;
    }
    int setTypeOfService(int tos) override {
        if (tos < 0 || tos > 255)
            return EINVAL;
        m_request.typeOfService = static_cast<std::uint8_t>(tos);
        return 0;
    }
    int setDontFragment() override {
        m_request.dontFragment = true;
        return 0;
    }

    int sendTo(std::span<const std::uint8_t> message, const Ipv4Address& to) override {
        if (message.size() < kEchoHead || message[0] != 8 || message[1] != 0)
            return EINVAL;
        if (message.size() - kEchoHead > channel::kMaxEchoData)
            return EMSGSIZE;
        std::memcpy(&m_request.identifier, message.data() + 4, 2);
        std::memcpy(&m_request.sequence, message.data() + 6, 2);
        std::memcpy(&m_request.tick, message.data() + 8, 4);
        m_request.dataSize = static_cast<std::uint16_t>(message.size() - kEchoHead);
        std::memcpy(m_request.destination, to.octets, 4);
        m_request.waitMs = channel::kMaxEchoWaitMs; // this side gives up when it will
        return m_echo.send(m_request);
    }

    WaitResult waitReadable(std::uint32_t timeoutMs, std::stop_token stop, int& error) override {
        if (m_answer)
            return WaitResult::Readable;
        const WaitResult r = waitForReadable(m_echo.channelFd(), timeoutMs, stop, error);
        if (r != WaitResult::Readable)
            return r;
        m_answer = m_echo.answer();
        if (!m_answer || m_answer->error != 0) {
            error = m_answer ? m_answer->error : EIO;
            m_answer.reset();
            return WaitResult::Failed;
        }
        return WaitResult::Readable;
    }

    bool receive(std::span<std::uint8_t> buffer, std::size_t& length, Ipv4Address& from,
                 int& error) override {
        if (!m_answer) {
            error = EAGAIN;
            return false;
        }
        // Type 0 (echo reply), code 0, the identifier, sequence and tick of the request, then
        // as many filler bytes as the reply carried. Its checksum was checked by the kernel.
        std::vector<std::uint8_t> reply(kEchoHead + m_answer->dataSize, kEchoFiller);
        reply[0] = reply[1] = reply[2] = reply[3] = 0;
        std::memcpy(&reply[4], &m_answer->identifier, 2);
        std::memcpy(&reply[6], &m_answer->sequence, 2);
        std::memcpy(&reply[8], &m_request.tick, 4);
        std::memcpy(from.octets, m_answer->from, 4);
        m_answer.reset();
        if (reply.size() > buffer.size()) {
            error = EMSGSIZE;
            return false;
        }
        std::copy(reply.begin(), reply.end(), buffer.begin());
        length = reply.size();
        return true;
    }

private:
    HelperEcho m_echo;
    channel::EchoRequest m_request;
    std::optional<channel::EchoAnswer> m_answer;
};

} // namespace

ResolveResult LinuxIcmpFactory::resolve(const std::string& host) {
    ResolveResult r;
    in_addr numeric{};
    if (::inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
        std::memcpy(r.address.octets, &numeric, 4);
        r.ok = true;
        return r;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    hints.ai_protocol = IPPROTO_ICMP;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0 || !list) {
        if (rc == EAI_SYSTEM) {
            r.error = errno;
            r.errorText = std::strerror(r.error);
        } else {
            r.error = rc;
            r.errorText = ::gai_strerror(rc);
        }
        return r;
    }
    const auto* sa = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    std::memcpy(r.address.octets, &sa->sin_addr, 4);
    ::freeaddrinfo(list);
    r.ok = true;
    return r;
}

ResolveResult LinuxIcmpFactory::resolveUntil(const std::string& host, std::stop_token stop) {
    in_addr numeric{};
    if (!stop.stop_possible() || ::inet_pton(AF_INET, host.c_str(), &numeric) == 1)
        return resolve(host);
    struct Lookup {
        std::mutex mutex;
        std::condition_variable_any done;
        std::optional<ResolveResult> result;
    };
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host] {
            ResolveResult r = LinuxIcmpFactory().resolve(host);
            std::lock_guard lock(lookup->mutex);
            lookup->result = std::move(r);
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return resolve(host);
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait(lock, stop, [&] { return lookup->result.has_value(); })) {
        ResolveResult r;
        r.error = ECANCELED;
        r.errorText = std::strerror(ECANCELED);
        return r;
    }
    return *lookup->result;
}

std::unique_ptr<IIcmpSocket> LinuxIcmpFactory::open(int& error) {
    bool raw = true;
    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        // The raw socket's refusal is what the user is told when the datagram socket is refused
        // too.
        error = errno;
        raw = false;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    if (fd < 0 && m_helper) {
        // ping_group_range leaves this user out: the helper sends the echo.
        HelperEcho echo;
        if (echo.start(m_helper()) == 0)
            return std::make_unique<HelperEchoSocket>(std::move(echo));
    }
    if (fd < 0)
        return nullptr;
    auto sock = std::make_unique<LinuxIcmpSocket>(fd, raw);
    // Linux sets "don't fragment" on every datagram by default (path-MTU discovery); the
    // request carries it only when the caller asks for it (setDontFragment).
    if (const int rc = setIntOption(fd, IPPROTO_IP, IP_MTU_DISCOVER, IP_PMTUDISC_DONT); rc != 0) {
        error = rc;
        return nullptr;
    }
    return sock;
}

std::uint32_t LinuxIcmpFactory::processId() const {
    return static_cast<std::uint32_t>(::getpid());
}

} // namespace tn
