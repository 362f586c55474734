// tallynet-capture: the one program of Tallynet that holds capabilities, and only those that an
// administrator allowed may run it (its file's group). Its parent, the window process, starts it
// with a socket pair as descriptor 3 and sends one request:
//   capture  open an interface with libpcap, drop every capability, confine itself to the
//            capture loop, then write the frames, cut to the headers the accounting reads, into
//            the window's frame ring and send the kernel's counters until told to stop;
//   echo     send one ICMP echo request of fixed fields from a raw socket, answer with the
//            fields of its reply, end. The socket never leaves this process.
// It reads nothing else: no arguments, no environment, no files of the user's. Its capabilities
// are permitted, not effective, until the request has been read and checked.
#include "capture/frame_layout.h"
#include "capture_helper/confine.h"
#include "platform/linux/capture_channel.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/unique_fd.h"
#include "stats/icmp_echo.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tn;
using Clock = std::chrono::steady_clock;

constexpr int kChannel = 3;
constexpr auto kStatisticsEvery = std::chrono::milliseconds(500);
// A drop is told at the next look; counters that only grew are told this seldom, since every
// message wakes the window.
constexpr auto kStatisticsAnyway = std::chrono::seconds(5);
// Only after a batch of a busy line: at rest the blocks come by their time-out anyway.
constexpr auto kGather = PcapCaptureFactory::kGather;
constexpr int kGatherAfterFrames = 256;
// Pages of the frame ring the window has read are given back this often: seldom enough that a
// busy line does not pay for fresh pages again and again, often enough that a burst's memory
// is not kept for long.
constexpr auto kReleaseEvery = std::chrono::seconds(30);
// The window sends its request as soon as the helper runs: a caller that makes it wait does not
// keep a capable process around.
constexpr int kRequestWaitMs = 2000;
// Captures that one user may run at once: one window needs one, two while it changes adapter.
constexpr int kMaxCapturesPerUser = 4;
constexpr const char* kProcessName = "tallynet-captur"; // as the kernel keeps it (15 bytes)

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "tallynet-capture: %s\n", what);
    std::_Exit(2);
}

constexpr std::uint64_t bit(int cap) {
    return std::uint64_t{1} << cap;
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

// Sets both sets (nothing inheritable or ambient) and checks that the kernel holds them now.
bool setCapabilities(std::uint64_t effective, std::uint64_t permitted) {
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    data[0].effective = static_cast<std::uint32_t>(effective);
    data[1].effective = static_cast<std::uint32_t>(effective >> 32);
    data[0].permitted = static_cast<std::uint32_t>(permitted);
    data[1].permitted = static_cast<std::uint32_t>(permitted >> 32);
    if (::syscall(SYS_capset, &header, data) != 0)
        return false;
    Capabilities after;
    return readCapabilities(after) && after.effective == effective && after.permitted == permitted;
}

// Nothing is effective; what is permitted stays for the moment a request needs it.
bool lowerAll() {
    Capabilities now;
    return readCapabilities(now) && setCapabilities(0, now.permitted);
}

// Raises `wanted` as far as it is permitted; true when all of it is effective now.
bool raise(std::uint64_t wanted) {
    Capabilities now;
    if (!readCapabilities(now) || !setCapabilities(wanted & now.permitted, now.permitted))
        return false;
    return (wanted & ~now.permitted) == 0;
}

bool dropAll() {
    return setCapabilities(0, 0);
}

// Empties the bounding set (with CAP_SETPCAP, where it was granted), so that nothing this
// process could ever run regains a capability.
void emptyBoundingSet() {
    for (int cap = 0; cap < 64; ++cap)
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno == EINVAL)
            break;
}

int reply(channel::ReplyStatus status, const std::string& reason, std::uint8_t link = 0) {
    channel::sendMessage(kChannel, channel::encodeReply({status, link, reason}));
    if (status != channel::ReplyStatus::Ok)
        std::fprintf(stderr, "tallynet-capture: %s\n", reason.c_str());
    return status == channel::ReplyStatus::Ok ? 0 : 1;
}

// Those an administrator allowed: root, the file's owner and the members of the file's group.
// The file's mode keeps everyone else from running it at all; this holds also where a mode
// was loosened by hand.
bool callerAllowed(std::string& group) {
    struct stat self {};
    if (::stat("/proc/self/exe", &self) != 0)
        return false;
    group = std::to_string(self.st_gid);
    const uid_t uid = ::getuid();
    if (uid == 0 || uid == self.st_uid || ::getgid() == self.st_gid)
        return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<std::size_t>(i)] == self.st_gid)
            return true;
    return false;
}

// Other helpers of this user (by real uid, which nobody else can take), so that one user cannot
// hold any number of kernel rings.
int otherCapturesOfThisUser() {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return 0;
    const std::string uid = std::to_string(::getuid());
    const std::string self = std::to_string(::getpid());
    while (const dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9' || self == e->d_name)
            continue;
        std::ifstream status(std::string("/proc/") + e->d_name + "/status");
        std::string line;
        bool ours = false;
        bool sameUser = false;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0)
                ours = line.find(kProcessName) != std::string::npos;
            else if (line.rfind("Uid:", 0) == 0)
                sameUser = line.substr(line.find_first_not_of(" \t", 4)).rfind(uid + "\t", 0) == 0;
        }
        count += ours && sameUser;
    }
    ::closedir(proc);
    return count;
}

// ---- echo ----

int sendEcho(const channel::EchoRequest& e) {
    channel::EchoAnswer answer;
    const auto answerWith = [&answer](int error) {
        answer.error = error;
        return channel::sendMessage(kChannel, channel::encodeEchoAnswer(answer)) && error == 0 ? 0
                                                                                               : 1;
    };
    if (!raise(bit(CAP_NET_RAW))) {
        dropAll();
        return answerWith(EPERM);
    }
    UniqueFd sock(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    const int openError = errno;
    if (!dropAll())
        die("could not drop the capabilities");
    if (sock.get() < 0)
        return answerWith(openError);
    // Of all the ICMP the machine receives, only echo replies reach this socket.
    // (ICMP_FILTER of <linux/icmp.h>, whose other declarations clash with <net/if.h>.)
    constexpr int kIcmpFilter = 1;
    constexpr std::uint32_t kEchoReplyType = 0;
    const std::uint32_t only = ~(1u << kEchoReplyType);
    const int ttl = e.timeToLive;
    const int tos = e.typeOfService;
    const int pmtu = e.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    if (::setsockopt(sock.get(), SOL_RAW, kIcmpFilter, &only, sizeof only) != 0 ||
        ::setsockopt(sock.get(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0 ||
        ::setsockopt(sock.get(), IPPROTO_IP, IP_TOS, &tos, sizeof tos) != 0 ||
        ::setsockopt(sock.get(), IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) != 0)
        return answerWith(errno);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (std::memcmp(e.source, "\0\0\0\0", 4) != 0) {
        std::memcpy(&sa.sin_addr, e.source, 4);
        if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
            return answerWith(errno);
    }
    const std::vector<std::uint8_t> message =
        buildEchoRequest(e.identifier, e.sequence, e.tick, e.dataSize);
    std::memcpy(&sa.sin_addr, e.destination, 4);
    if (::sendto(sock.get(), message.data(), message.size(), 0,
                 reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0)
        return answerWith(errno);

    const auto deadline = Clock::now() + std::chrono::milliseconds(e.waitMs);
    std::array<std::uint8_t, kEchoReceiveBytes> buffer{};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return answerWith(ETIMEDOUT);
        // The window hanging up ends the wait too.
        pollfd fds[2] = {{sock.get(), POLLIN, 0}, {kChannel, POLLIN, 0}};
        const int n = ::poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || fds[1].revents != 0)
            return 1;
        if (n == 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            ::recvfrom(sock.get(), buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0 || static_cast<std::size_t>(got) > buffer.size())
            continue;
        const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(got));
        if (checkEchoReply(datagram, true, e.identifier, e.sequence) != ReplyCheck::Reply)
            continue;
        std::memcpy(answer.from, &from.sin_addr, 4);
        answer.identifier = e.identifier;
        answer.sequence = e.sequence;
        const std::size_t header = 4u * (datagram[0] & 0x0fu) + kEchoHeaderBytes;
        answer.dataSize = static_cast<std::uint16_t>(
            std::min<std::size_t>(datagram.size() - header, channel::kMaxEchoData));
        return answerWith(0);
    }
}

// ---- capture ----

struct Stream {
    channel::FrameRing ring;
    LinkKind link = LinkKind::Unsupported;
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
    if (isFlowStart(header)) {
        // Told at once, and only told: the frame itself comes through the ring. A full channel
        // loses the note, never the frame.
        const std::vector<std::uint8_t> note =
            channel::encodeFlowStart({frame, frame::accountedBytes(s->link, frame, captured)});
        if (!note.empty())
            ::send(kChannel, note.data(), note.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        return;
    }
    const std::uint32_t wire = std::max(header.wireLength, captured);
    // Whatever the kernel copied, only the headers the accounting reads leave this process.
    const std::span<const std::uint8_t> bytes(frame,
                                              frame::accountedBytes(s->link, frame, captured));
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
        dropAll();
        return reply(channel::ReplyStatus::NoSuchInterface,
                     "no interface is named \"" + request.interfaceName + "\"");
    }
    if (otherCapturesOfThisUser() >= kMaxCapturesPerUser) {
        dropAll();
        return reply(channel::ReplyStatus::BadRequest,
                     "this user runs " + std::to_string(kMaxCapturesPerUser) + " captures already");
    }
    // Promiscuous mode is the only reason to raise CAP_NET_ADMIN for the open.
    const std::uint64_t needed = bit(CAP_NET_RAW) | (request.promiscuous ? bit(CAP_NET_ADMIN) : 0);
    if (raise(bit(CAP_SETPCAP)))
        emptyBoundingSet();
    if (!raise(needed)) {
        Capabilities caps;
        const bool raw = readCapabilities(caps) && (caps.effective & bit(CAP_NET_RAW)) != 0;
        dropAll();
        return reply(channel::ReplyStatus::NoPermission,
                     raw ? "CAP_NET_ADMIN is missing" : "CAP_NET_RAW is missing");
    }

    PcapCaptureFactory pcap;
    CaptureOptions options;
    options.kernelBufferBytes = static_cast<int>(channel::kMaxKernelBufferBytes);
    // At rest a small ring; the large one only while frames come fast.
    options.growUnderLoad = true;
    options.promiscuous = request.promiscuous;
    options.flowStarts = request.flowStarts;
    options.readTimeoutMs = static_cast<int>(request.readTimeoutMs);
    options.snapLength = static_cast<int>(request.snapLength);
    options.ipv4Bytes = static_cast<int>(frame::kIpv4ReadBytes);
    CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
    std::string reason;
    std::unique_ptr<ICaptureDevice> device =
        pcap.openLive(request.interfaceName, options, status, reason);
    // Nothing below needs a privilege: the handle is open (or will not be).
    if (!dropAll())
        return reply(channel::ReplyStatus::Internal, "could not drop the capabilities");
    if (!device)
        return reply(status == CaptureOpenStatus::KernelBufferFailed
                         ? channel::ReplyStatus::KernelBufferFailed
                         : channel::ReplyStatus::OpenFailed,
                     reason);

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
    // From here on the loop's few system calls are all this process may make, on every thread.
    if (!helper::confineToCaptureLoop()) {
        ::shutdown(kChannel, SHUT_RDWR);
        listener.join();
        return reply(channel::ReplyStatus::Internal, "could not confine the capture");
    }
    if (reply(channel::ReplyStatus::Ok, "", static_cast<std::uint8_t>(device->linkKind())) != 0) {
        ::shutdown(kChannel, SHUT_RDWR);
        listener.join();
        return 1;
    }

    Stream stream;
    stream.ring = std::move(ring);
    stream.link = device->linkKind();
    stream.stop = &stop;
    auto lastLook = Clock::now() - kStatisticsEvery;
    auto lastSent = lastLook - kStatisticsAnyway;
    auto lastRelease = Clock::now();
    std::uint64_t droppedSent = 0;
    bool wasBusy = false;
    int rc = 0;
    for (;;) {
        const int n = device->dispatch(&onFrame, &stream);
        stream.publish();
        const auto now = Clock::now();
        if (now - lastLook >= kStatisticsEvery || stop.load()) {
            lastLook = now;
            CaptureStatistics st;
            if (device->statistics(st) &&
                (st.dropped != droppedSent || now - lastSent >= kStatisticsAnyway || stop.load())) {
                lastSent = now;
                droppedSent = st.dropped;
                stream.sendStatistics(channel::encodeStatistics({st.received, st.dropped}));
            }
        }
        if (now - lastRelease >= kReleaseEvery) {
            lastRelease = now;
            stream.ring.release();
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
        // Never longer than the ring holds at the line's rate, and not after the first busy
        // batch: it gathered since a quiet look, which tells no rate, and a flood's onset fills
        // the small ring of a capture at rest before the large one is set up.
        const bool busy = n >= kGatherAfterFrames;
        if (busy && wasBusy)
            std::this_thread::sleep_for(
                std::min<std::chrono::milliseconds>(kGather, device->gatherAtMost()));
        wasBusy = busy;
    }
    ::shutdown(kChannel, SHUT_WR);
    if (!stop.load())
        ::shutdown(kChannel, SHUT_RD); // ends the listener's wait
    listener.join();
    // The ring and the capture are unmapped by the kernel at exit: no destructor runs past here.
    std::_Exit(rc);
}

} // namespace

int main() {
    // Nothing of the caller's environment is read, and nothing of it reaches libpcap. The
    // strings are wiped too, so that /proc/<pid>/environ shows none of them.
    for (char** e = environ; e && *e; ++e)
        std::memset(*e, 0, std::strlen(*e));
    ::clearenv();
    if (!lowerAll())
        die("could not lower the capabilities");
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
    pollfd wait{kChannel, POLLIN, 0};
    if (::poll(&wait, 1, kRequestWaitMs) != 1) {
        dropAll();
        die("no request in time");
    }

    // The request, and with a capture request the window's frame ring.
    std::uint8_t message[256];
    int passed = -1;
    const channel::Received received = channel::receiveMessage(kChannel, message, &passed);
    UniqueFd ringFd(passed);
    if (received.length <= 0) {
        dropAll();
        die("no request");
    }
    const std::optional<channel::Request> request =
        received.truncated
            ? std::nullopt
            : channel::decodeRequest({message, static_cast<std::size_t>(received.length)});
    std::string group;
    if (!callerAllowed(group)) {
        dropAll();
        if (request && request->kind == channel::RequestKind::Echo) {
            channel::EchoAnswer refused;
            refused.error = EACCES;
            channel::sendMessage(kChannel, channel::encodeEchoAnswer(refused));
            return 1;
        }
        return reply(channel::ReplyStatus::NotAllowed,
                     "only the members of group " + group + " may capture");
    }
    if (!request) {
        dropAll();
        return reply(channel::ReplyStatus::BadRequest, "malformed request");
    }
    if (request->kind == channel::RequestKind::Echo) {
        ringFd = UniqueFd();
        return sendEcho(request->echo);
    }
    channel::FrameRing ring;
    std::string why;
    if (ringFd.get() < 0 || !ring.attach(ringFd.get(), why)) {
        dropAll();
        return reply(channel::ReplyStatus::BadRequest,
                     ringFd.get() < 0 ? "no frame ring came with the request" : why);
    }
    ringFd = UniqueFd();
    return capture(*request, std::move(ring));
}
