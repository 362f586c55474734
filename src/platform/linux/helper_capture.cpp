#include "platform/linux/helper_capture.h"

#include "platform/linux/capture_channel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef TALLYNET_INSTALLED_LIBEXEC_DIR
#define TALLYNET_INSTALLED_LIBEXEC_DIR "/usr/libexec/tallynet"
#endif

namespace tn {

namespace {

// The helper finds its channel here: the only descriptor it inherits besides 0, 1 and 2.
constexpr int kChannelFd = 3;
// Start-up, the interface check and libpcap's open: generous, since it only bounds a failure.
constexpr int kReplyTimeoutMs = 5000;
// How long a stopped helper may take to hand out its last batch before it is killed.
constexpr int kStopTimeoutMs = 2000;
// Messages handled per dispatch before the wake-up is looked at again.
constexpr int kMessagesPerDispatch = 64;
// While frames flow, the window reads the ring this often instead of being woken for every
// batch the helper publishes (a few hundred a second under load). The ring holds this much of
// a flood of small IPv4 frames at over a million a second; should it fill first, the helper
// sends a note at once.
constexpr int kGatherMs = 100;
// A look that found fewer frames than this waits for the helper's note instead: at rest the
// helper publishes only every read time-out, and a look between would find nothing.
constexpr int kGatherAfterFrames = 256;

// A helper that this user may not run is still found: the user is then told how to be allowed.
bool isHelperFile(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec);
}

// A started helper: its process and our end of the channel.
struct Helper {
    pid_t pid = -1;
    UniqueFd channel;
};

void reap(pid_t pid, int timeoutMs) {
    if (pid <= 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return;
        }
        ::usleep(5000);
    }
}

// Starts the helper with an empty environment, the channel as descriptor 3 and nothing else
// of ours open. 0 or an errno value.
int spawnHelper(const std::filesystem::path& path, Helper& helper) {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return errno;
    UniqueFd ours(sv[0]);
    UniqueFd theirs(sv[1]);
    if (theirs.get() == kChannelFd) {
        // dup2 onto itself would leave close-on-exec set.
        UniqueFd moved(::fcntl(theirs.get(), F_DUPFD_CLOEXEC, kChannelFd + 1));
        if (moved.get() < 0)
            return errno;
        theirs = std::move(moved);
    }
    // Room for a few batches in flight while this side is busy with the one before.
    const int sendBuffer = 1 << 20;
    ::setsockopt(theirs.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), kChannelFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kChannelFd + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The helper starts with default signal handling and no blocked signals, whatever ours are.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::string name = kCaptureHelperName;
    char* argv[] = {name.data(), nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return rc;
    helper.pid = pid;
    helper.channel = std::move(ours);
    return 0;
}

using channel::sendMessage;

// Waits for one message; its length, 0 at end of stream, -1 on failure or time-out. A
// descriptor that came with it is closed: the helper has none to give.
ssize_t receiveMessage(int channel, std::vector<std::uint8_t>& buffer, int timeoutMs) {
    pollfd p{channel, POLLIN, 0};
    int n;
    while ((n = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (n <= 0)
        return -1;
    buffer.resize(channel::kMaxMessage);
    const channel::Received r = channel::receiveMessage(channel, buffer, nullptr);
    if (r.length < 0 || r.truncated)
        return -1;
    buffer.resize(static_cast<std::size_t>(r.length));
    return r.length;
}

LinkKind toLinkKind(std::uint8_t v) {
    return v <= static_cast<std::uint8_t>(LinkKind::Unsupported) ? static_cast<LinkKind>(v)
                                                                 : LinkKind::Unsupported;
}

// The window's end of a running helper.
class HelperDevice final : public ICaptureDevice {
public:
    HelperDevice(Helper helper, channel::FrameRing ring, LinkKind link, int timeoutMs,
                 UniqueFd wake)
        : m_pid(helper.pid), m_channel(std::move(helper.channel)), m_ring(std::move(ring)),
          m_link(link), m_timeoutMs(timeoutMs), m_wake(std::move(wake)) {
        m_buffer.resize(channel::kMaxMessage);
    }
    ~HelperDevice() override {
        // The helper hands out the frames in hand and ends; its messages are read to the end
        // so that it never waits on a full channel.
        sendMessage(m_channel.get(), channel::encodeStop());
        ::shutdown(m_channel.get(), SHUT_WR);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        std::vector<std::uint8_t> rest;
        while (!m_ended) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || receiveMessage(m_channel.get(), rest, static_cast<int>(left)) <= 0)
                break;
        }
        m_channel = UniqueFd();
        reap(m_pid, kStopTimeoutMs);
    }
    HelperDevice(const HelperDevice&) = delete;
    HelperDevice& operator=(const HelperDevice&) = delete;

    LinkKind linkKind() const override { return m_link; }

    int dispatch(FrameCallback callback, void* user) override {
        if (m_ended && !m_ringOk)
            return kReadError;
        if (!m_ended && !m_ring.pending()) {
            // While frames flow the ring is looked at every kGatherMs without a note from the
            // helper; once it ran dry the helper is asked for one.
            const bool asked = !m_busy && m_ring.requestWake();
            pollfd fds[2] = {{m_channel.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
            const int ready =
                (m_busy || asked) ? ::poll(fds, 2, m_busy ? kGatherMs : m_timeoutMs) : 0;
            m_busy = false;
            if (ready < 0)
                return errno == EINTR ? 0 : kReadError;
            if (fds[1].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t r = ::read(m_wake.get(), &count, sizeof count);
                m_woken.store(false, std::memory_order_relaxed);
                return kBroken;
            }
            if (ready == 0 && asked)
                return 0;
        }
        readMessages();
        int frames = 0;
        CaptureHeader header;
        // Flow starts ahead of the frames, which may still be in the helper's kernel ring.
        for (const std::vector<std::uint8_t>& start : m_flowStarts) {
            header.capturedLength = static_cast<std::uint32_t>(start.size());
            header.wireLength = 0;
            callback(user, header, start.data());
        }
        const int starts = static_cast<int>(m_flowStarts.size());
        m_flowStarts.clear();
        // Everything published is handed out, also after the helper ended: its last frames
        // are in the ring.
        if (m_ringOk)
            m_ringOk = m_ring.consume([&](const channel::FrameView& f) {
                header.capturedLength = static_cast<std::uint32_t>(f.captured.size());
                header.wireLength = f.wireLength;
                callback(user, header, f.captured.data());
                ++frames;
            });
        if (!m_ringOk)
            m_ended = true; // a ring that breaks its rules is trusted no more
        m_busy = frames >= kGatherAfterFrames;
        if (m_ended && frames == 0)
            return kReadError;
        return frames + starts;
    }

    void breakLoop() override {
        m_woken.store(true, std::memory_order_relaxed);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake.get(), &one, sizeof one);
    }

    bool statistics(CaptureStatistics& out) override {
        if (!m_haveStatistics.load(std::memory_order_acquire))
            return false;
        out.received = m_received.load(std::memory_order_relaxed);
        out.dropped = m_dropped.load(std::memory_order_relaxed);
        return true;
    }

private:
    // The messages waiting: notes that frames are ready (the ring tells how many), the
    // kernel's counters, the end of the helper.
    void readMessages() {
        for (int i = 0; i < kMessagesPerDispatch && !m_ended; ++i) {
            const ssize_t n =
                ::recv(m_channel.get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
            if (n < 0) {
                if (errno != EAGAIN && errno != EINTR)
                    m_ended = true;
                return;
            }
            if (n == 0 || static_cast<std::size_t>(n) > m_buffer.size()) {
                m_ended = true; // the end, or a message this side cannot have been sent
                return;
            }
            const std::span<const std::uint8_t> m(m_buffer.data(), static_cast<std::size_t>(n));
            switch (channel::kindOf(m)) {
            case channel::MessageKind::Ready:
                break;
            case channel::MessageKind::FlowStart:
                if (const auto start = channel::decodeFlowStart(m))
                    m_flowStarts.emplace_back(start->begin(), start->end());
                else
                    m_ended = true;
                break;
            case channel::MessageKind::Statistics:
                if (const auto s = channel::decodeStatistics(m)) {
                    m_received.store(s->received, std::memory_order_relaxed);
                    m_dropped.store(s->dropped, std::memory_order_relaxed);
                    m_haveStatistics.store(true, std::memory_order_release);
                }
                break;
            default:
                m_ended = true;
                return;
            }
        }
    }

    pid_t m_pid;
    UniqueFd m_channel;
    channel::FrameRing m_ring;
    bool m_ringOk = true;
    bool m_busy = false; // the last look found many frames: more are coming
    LinkKind m_link;
    int m_timeoutMs;
    UniqueFd m_wake;
    std::vector<std::uint8_t> m_buffer;
    std::vector<std::vector<std::uint8_t>> m_flowStarts; // read, not yet handed out
    bool m_ended = false;
    std::atomic<bool> m_woken{false};
    std::atomic<bool> m_haveStatistics{false};
    std::atomic<std::uint64_t> m_received{0};
    std::atomic<std::uint64_t> m_dropped{0};
};

std::string missingText(const std::filesystem::path& executable) {
    return std::string("The capture helper ") + kCaptureHelperName + " was not found beside " +
           executable.parent_path().string() + " nor in " + TALLYNET_INSTALLED_LIBEXEC_DIR +
           "; only the adapter's own counters are shown.";
}

std::filesystem::path ownExecutable() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path{} : p;
}

} // namespace

std::filesystem::path locateCaptureHelper(const std::filesystem::path& executable) {
    std::vector<std::filesystem::path> candidates;
    if (!executable.empty()) {
        const auto dir = executable.parent_path();
        candidates.push_back(dir / kCaptureHelperName);
        // <prefix>/bin/tallynet finds <prefix>/libexec/tallynet whatever the prefix was.
        candidates.push_back(dir.parent_path() / "libexec" / "tallynet" / kCaptureHelperName);
    }
    candidates.push_back(std::filesystem::path(TALLYNET_INSTALLED_LIBEXEC_DIR) /
                         kCaptureHelperName);
    for (const auto& c : candidates)
        if (isHelperFile(c))
            return c;
    return {};
}

std::string grantCommand(const std::filesystem::path& helper) {
    return "sudo setcap " + std::string(kHelperCapabilities) + " " + helper.string();
}

std::string accessText(const std::filesystem::path& helper) {
    struct stat st {};
    const group* g = ::stat(helper.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
    const std::string name = g && g->gr_name ? g->gr_name : kCaptureGroup;
    return "Capture is for the members of the group " + name + ". Join it with:\n" +
           "sudo usermod -aG " + name + " $USER\nthen log in again.";
}

HelperCaptureFactory::HelperCaptureFactory(std::filesystem::path helper)
    : m_helper(std::move(helper)) {}

std::filesystem::path HelperCaptureFactory::helperPath() const {
    return m_helper.empty() ? locateCaptureHelper(ownExecutable()) : m_helper;
}

std::unique_ptr<ICaptureDevice> HelperCaptureFactory::openLive(const std::string& name,
                                                               const CaptureOptions& options,
                                                               CaptureOpenStatus& status,
                                                               std::string& reason) {
    status = CaptureOpenStatus::DeviceFailed;
    const std::filesystem::path path = helperPath();
    if (path.empty()) {
        reason = missingText(ownExecutable());
        return nullptr;
    }
    channel::Request request;
    request.kind = channel::RequestKind::Capture;
    request.interfaceName = name;
    request.promiscuous = options.promiscuous;
    request.flowStarts = options.flowStarts;
    request.snapLength = static_cast<std::uint32_t>(
        std::clamp<int>(options.snapLength, channel::kMinSnapLength, channel::kMaxSnapLength));
    request.kernelBufferBytes = static_cast<std::uint32_t>(
        std::clamp<long long>(options.kernelBufferBytes, 0, channel::kMaxKernelBufferBytes));
    request.readTimeoutMs = static_cast<std::uint32_t>(
        std::clamp<int>(options.readTimeoutMs, 1, channel::kMaxReadTimeoutMs));
    const std::vector<std::uint8_t> message = channel::encodeRequest(request);
    if (message.empty()) {
        reason = "The interface name \"" + name + "\" cannot be asked for.";
        return nullptr;
    }
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    channel::FrameRing ring;
    int ringFd = -1;
    if (!ring.create(ringFd, reason))
        return nullptr;
    const UniqueFd ringOwner(ringFd);
    Helper helper;
    if (const int rc = spawnHelper(path, helper); rc != 0) {
        reason = rc == EACCES ? accessText(path)
                              : "Could not start " + path.string() + ": " + std::strerror(rc);
        return nullptr;
    }
    std::vector<std::uint8_t> buffer;
    std::optional<channel::Reply> reply;
    if (sendMessage(helper.channel.get(), message, ringFd) &&
        receiveMessage(helper.channel.get(), buffer, kReplyTimeoutMs) > 0)
        reply = channel::decodeReply(buffer);
    if (!reply || reply->status != channel::ReplyStatus::Ok) {
        helper.channel = UniqueFd();
        reap(helper.pid, kStopTimeoutMs);
        if (!reply) {
            reason = path.string() + " gave no answer.";
        } else if (reply->status == channel::ReplyStatus::NotAllowed) {
            reason = accessText(path);
        } else if (reply->status == channel::ReplyStatus::NoPermission) {
            reason = path.string() + " may not capture. Grant it the capabilities with:\n" +
                     grantCommand(path);
        } else {
            if (reply->status == channel::ReplyStatus::KernelBufferFailed)
                status = CaptureOpenStatus::KernelBufferFailed;
            reason = reply->reason;
        }
        return nullptr;
    }
    status = CaptureOpenStatus::Ok;
    return std::make_unique<HelperDevice>(std::move(helper), std::move(ring),
                                          toLinkKind(reply->linkKind),
                                          static_cast<int>(request.readTimeoutMs), std::move(wake));
}

std::unique_ptr<ICaptureDevice> HelperCaptureFactory::openFile(const std::filesystem::path& file,
                                                               std::string& reason) {
    return m_files.openFile(file, reason);
}

std::string HelperCaptureFactory::libraryVersion() const {
    return m_files.libraryVersion();
}

struct HelperEcho::Process {
    Helper helper;
};

HelperEcho::HelperEcho() = default;
HelperEcho::HelperEcho(HelperEcho&&) noexcept = default;
HelperEcho& HelperEcho::operator=(HelperEcho&&) noexcept = default;

HelperEcho::~HelperEcho() {
    if (!m_process)
        return;
    // Hanging up ends a helper that still waits for a reply.
    m_process->helper.channel = UniqueFd();
    reap(m_process->helper.pid, kStopTimeoutMs);
}

int HelperEcho::start(const std::filesystem::path& path) {
    if (path.empty())
        return ENOENT;
    auto process = std::make_unique<Process>();
    if (const int rc = spawnHelper(path, process->helper); rc != 0)
        return rc;
    m_process = std::move(process);
    return 0;
}

int HelperEcho::send(const channel::EchoRequest& echo) {
    if (!m_process)
        return EBADF;
    channel::Request request;
    request.kind = channel::RequestKind::Echo;
    request.echo = echo;
    const std::vector<std::uint8_t> message = channel::encodeRequest(request);
    if (message.empty())
        return EINVAL;
    return sendMessage(m_process->helper.channel.get(), message) ? 0 : EIO;
}

int HelperEcho::channelFd() const {
    return m_process ? m_process->helper.channel.get() : -1;
}

std::optional<channel::EchoAnswer> HelperEcho::answer() {
    if (!m_process)
        return std::nullopt;
    std::vector<std::uint8_t> buffer;
    if (receiveMessage(m_process->helper.channel.get(), buffer, 0) <= 0)
        return std::nullopt;
    if (const auto answer = channel::decodeEchoAnswer(buffer))
        return answer;
    // A refusal before the request was read comes as a reply.
    if (const auto reply = channel::decodeReply(buffer))
        if (reply->status == channel::ReplyStatus::NotAllowed)
            return channel::EchoAnswer{EACCES, {}, 0, 0, 0};
    return std::nullopt;
}

} // namespace tn
