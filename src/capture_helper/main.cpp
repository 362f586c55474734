// tallynet-capture: the one program of Tallynet that holds capabilities. Its parent, the window
// process, starts it with a socket pair as descriptor 3 and sends one request:
//   capture      open an interface with libpcap, drop every capability, then write the heads
//                of its frames into the window's frame ring and send the kernel's counters
//                until told to stop;
//   ICMP socket  open a raw ICMP socket, drop every capability, pass the socket back, end.
// It reads nothing else: no arguments, no environment, no files of the user's.
#include "platform/linux/capture_channel.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/unique_fd.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace tn;
using Clock = std::chrono::steady_clock;

constexpr int kChannel = 3;
constexpr auto kStatisticsEvery = std::chrono::milliseconds(500);
// The kernel's ring (about a second of the fastest small-frame stream) holds far more.
constexpr auto kGather = std::chrono::milliseconds(100);

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "tallynet-capture: %s\n", what);
    std::_Exit(2);
}

// Capability sets as the kernel holds them: 64 bits in two words.
struct Capabilities {
    std::uint64_t effective = 0;
    std::uint64_t permitted = 0;
};

bool readCapabilities(Capabilities& caps) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    caps.effective = data[0].effective | (std::uint64_t{data[1].effective} << 32);
    caps.permitted = data[0].permitted | (std::uint64_t{data[1].permitted} << 32);
    return true;
}

// Keeps only `keep` (effective and permitted alike, nothing inheritable or ambient) and checks
// that the kernel holds exactly that now.
bool keepOnly(std::uint64_t keep) {
    Capabilities now;
    if (!readCapabilities(now))
        return false;
    keep &= now.permitted;
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    data[0].effective = data[0].permitted = static_cast<std::uint32_t>(keep);
    data[1].effective = data[1].permitted = static_cast<std::uint32_t>(keep >> 32);
    if (::syscall(SYS_capset, &header, data) != 0)
        return false;
    Capabilities after;
    return readCapabilities(after) && after.effective == keep && after.permitted == keep;
}

constexpr std::uint64_t bit(int cap) {
    return std::uint64_t{1} << cap;
}

int reply(channel::ReplyStatus status, const std::string& reason, std::uint8_t link = 0) {
    channel::sendMessage(kChannel, channel::encodeReply({status, link, reason}));
    if (status != channel::ReplyStatus::Ok)
        std::fprintf(stderr, "tallynet-capture: %s\n", reason.c_str());
    return status == channel::ReplyStatus::Ok ? 0 : 1;
}

int sendIcmpSocket() {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int openError = errno;
    if (!keepOnly(0))
        return reply(channel::ReplyStatus::Internal, "could not drop the capabilities");
    if (fd < 0)
        return reply(openError == EPERM || openError == EACCES ? channel::ReplyStatus::NoPermission
                                                               : channel::ReplyStatus::OpenFailed,
                     std::string("raw ICMP socket: ") + std::strerror(openError));
    return channel::sendMessage(kChannel, channel::encodeReply({channel::ReplyStatus::Ok, 0, ""}),
                                fd)
               ? 0
               : 1;
}

struct Stream {
    channel::FrameRing ring;
    const std::atomic<bool>* stop = nullptr;
    bool failed = false;

    // Publishes what was added and, when the window sleeps until told or the ring is full,
    // tells it. A window that is busy reading looks at the ring by itself: every note costs
    // both processes a wake-up. The note is only a wake-up: when the channel is full the
    // window has notes waiting already, so none is waited for.
    void publish(bool full = false) {
        if (ring.publish() && (ring.takeWakeRequest() || full))
            ::send(kChannel, readyNote.data(), readyNote.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    void sendStatistics(std::span<const std::uint8_t> statistics) {
        if (!statistics.empty() && !channel::sendMessage(kChannel, statistics))
            failed = true;
    }

    const std::vector<std::uint8_t> readyNote = channel::encodeReady();
};

void onFrame(void* user, const CaptureHeader& header, const std::uint8_t* frame) {
    auto* s = static_cast<Stream*>(user);
    const std::uint32_t captured = std::min(header.capturedLength, channel::kMaxSnapLength);
    const std::uint32_t wire = std::max(header.wireLength, captured);
    const std::span<const std::uint8_t> bytes(frame, captured);
    // A full ring waits for the window; meanwhile the kernel's ring holds the frames.
    while (!s->ring.add(wire, bytes)) {
        if (s->ring.readerBroken() || s->failed || s->stop->load())
            return;
        s->publish(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int capture(const channel::Request& request, channel::FrameRing ring) {
    if (::if_nametoindex(request.interfaceName.c_str()) == 0) {
        keepOnly(0);
        return reply(channel::ReplyStatus::NoSuchInterface,
                     "no interface is named \"" + request.interfaceName + "\"");
    }
    // Promiscuous mode is the only reason to keep CAP_NET_ADMIN up to the open.
    const std::uint64_t needed = bit(CAP_NET_RAW) | (request.promiscuous ? bit(CAP_NET_ADMIN) : 0);
    if (!keepOnly(needed))
        return reply(channel::ReplyStatus::Internal, "could not drop the capabilities");
    Capabilities caps;
    if (!readCapabilities(caps) || (caps.effective & bit(CAP_NET_RAW)) == 0) {
        keepOnly(0);
        return reply(channel::ReplyStatus::NoPermission, "CAP_NET_RAW is missing");
    }

    PcapCaptureFactory pcap;
    CaptureOptions options;
    options.kernelBufferBytes = static_cast<int>(request.kernelBufferBytes);
    options.promiscuous = request.promiscuous;
    options.readTimeoutMs = static_cast<int>(request.readTimeoutMs);
    options.snapLength = static_cast<int>(request.snapLength);
    options.ipv4Bytes = static_cast<int>(request.ipv4Bytes);
    CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
    std::string reason;
    std::unique_ptr<ICaptureDevice> device =
        pcap.openLive(request.interfaceName, options, status, reason);
    // Nothing below needs a privilege: the handle is open (or will not be).
    if (!keepOnly(0))
        return reply(channel::ReplyStatus::Internal, "could not drop the capabilities");
    if (!device)
        return reply(status == CaptureOpenStatus::KernelBufferFailed
                         ? channel::ReplyStatus::KernelBufferFailed
                         : channel::ReplyStatus::OpenFailed,
                     reason);
    if (reply(channel::ReplyStatus::Ok, "", static_cast<std::uint8_t>(device->linkKind())) != 0)
        return 1;

    // The parent's stop message, its end of the channel or anything else it sends ends the
    // capture: the batch in hand is handed out, flushed, and the program ends.
    std::atomic<bool> stop{false};
    std::thread listener([&stop, &device] {
        std::uint8_t m[64];
        while (::recv(kChannel, m, sizeof m, 0) < 0 && errno == EINTR) {
        }
        stop.store(true);
        device->breakLoop();
    });

    Stream stream;
    stream.ring = std::move(ring);
    stream.stop = &stop;
    auto lastStatistics = Clock::now() - kStatisticsEvery;
    int rc = 0;
    for (;;) {
        const int n = device->dispatch(&onFrame, &stream);
        stream.publish();
        const auto now = Clock::now();
        if (now - lastStatistics >= kStatisticsEvery || stop.load()) {
            lastStatistics = now;
            CaptureStatistics st;
            if (device->statistics(st))
                stream.sendStatistics(channel::encodeStatistics({st.received, st.dropped}));
        }
        if (stop.load() || stream.failed || stream.ring.readerBroken())
            break;
        if (n == ICaptureDevice::kReadError) {
            // The interface went away or down: the window starts a new helper when it comes back.
            rc = 1;
            break;
        }
        // While frames flow, the kernel's ring gathers them for a while: one wake-up then
        // takes many of its blocks instead of one, and each wake-up costs more than a block.
        if (n > 0)
            std::this_thread::sleep_for(kGather);
    }
    ::shutdown(kChannel, SHUT_WR);
    if (!stop.load())
        ::shutdown(kChannel, SHUT_RD); // ends the listener's wait
    listener.join();
    return rc;
}

} // namespace

int main() {
    // Nothing of the caller's environment is read, and nothing of it reaches libpcap. The
    // strings are wiped too, so that /proc/<pid>/environ shows none of them.
    for (char** e = environ; e && *e; ++e)
        std::memset(*e, 0, std::strlen(*e));
    ::clearenv();
    const pid_t parent = ::getppid();
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0)
        die("PR_SET_PDEATHSIG failed");
    if (parent <= 1 || ::getppid() != parent)
        die("the parent has ended");
    // Whatever this program might ever run gets no privilege from it.
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    std::signal(SIGPIPE, SIG_IGN);

    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(kChannel, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET)
        die("start me from tallynet: descriptor 3 is not its channel");

    // The request, and with a capture request the window's frame ring.
    std::uint8_t message[256];
    int passed = -1;
    const channel::Received received = channel::receiveMessage(kChannel, message, &passed);
    UniqueFd ringFd(passed);
    if (received.length <= 0) {
        keepOnly(0);
        die("no request");
    }
    const std::optional<channel::Request> request =
        received.truncated
            ? std::nullopt
            : channel::decodeRequest({message, static_cast<std::size_t>(received.length)});
    if (!request) {
        keepOnly(0);
        return reply(channel::ReplyStatus::BadRequest, "malformed request");
    }
    if (request->kind == channel::RequestKind::IcmpSocket)
        return sendIcmpSocket();
    channel::FrameRing ring;
    std::string why;
    if (ringFd.get() < 0 || !ring.attach(ringFd.get(), why)) {
        keepOnly(0);
        return reply(channel::ReplyStatus::BadRequest,
                     ringFd.get() < 0 ? "no frame ring came with the request" : why);
    }
    ringFd = UniqueFd();
    return capture(*request, std::move(ring));
}
