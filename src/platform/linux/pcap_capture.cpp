#include "platform/linux/pcap_capture.h"

#include "platform/linux/packet_ring.h"
#include "platform/linux/unique_fd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <mutex>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tn {

namespace {

// Connections opened in a second that are told of at once; the rest are asked about with their
// frames.
constexpr int kFlowStartsPerSecond = 200;

LinkKind linkKindOf(int dlt) {
    switch (dlt) {
    case DLT_EN10MB:
        return LinkKind::Ethernet;
    case DLT_LINUX_SLL:
        return LinkKind::LinuxSll;
    case DLT_LINUX_SLL2:
        return LinkKind::LinuxSll2;
    case DLT_RAW:
    case DLT_IPV4:
        return LinkKind::RawIp;
    default:
        return LinkKind::Unsupported;
    }
}

struct Trampoline {
    FrameCallback callback;
    void* user;
    std::size_t slotBytes = 0;
};

// The room a frame takes in a TPACKET_V3 ring: the load that decides the ring's size.
std::size_t slotBytesOf(std::uint32_t captured) {
    return (PcapCaptureFactory::kSlotOverheadBytes + captured + 15) / 16 * 16;
}

void onPcapFrame(u_char* user, const pcap_pkthdr* h, const u_char* bytes) {
    auto* t = reinterpret_cast<Trampoline*>(user);
    CaptureHeader header;
    header.capturedLength = h->caplen;
    header.wireLength = h->len;
    t->slotBytes += slotBytesOf(h->caplen);
    t->callback(t->user, header, bytes);
}

using Clock = std::chrono::steady_clock;

// Setting up a large ring takes the kernel long (its memory, and a pass of RCU: 150 ms were
// seen on a loaded machine), longer than the small ring holds a flood: it is done on a thread
// of its own while the capture goes on reading the small ring. The thread starts with the
// capture, before the capture is confined to its few system calls, and gives up every
// capability it was born with (capabilities belong to each thread) before the capture goes on.
class RingChanger {
public:
    enum class Stage { Small, Growing, Large, Draining, Shrinking, Refused };

    RingChanger(PacketRing& ring, std::size_t largeBytes)
        : m_ring(ring), m_largeBytes(largeBytes), m_thread([this] { run(); }) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_started; });
    }
    ~RingChanger() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    RingChanger(const RingChanger&) = delete;
    RingChanger& operator=(const RingChanger&) = delete;

    Stage stage() const { return m_stage.load(std::memory_order_acquire); }
    // Growing and Shrinking hand the ring to the thread; the other stages are the reader's.
    void set(Stage stage) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stage.store(stage, std::memory_order_release);
        }
        m_wake.notify_all();
    }

private:
    void run() {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
        const bool dropped = ::syscall(SYS_capset, &header, none) == 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_started = true;
        m_wake.notify_all();
        // A thread that kept a capability changes nothing: the small ring stays.
        if (!dropped)
            return;
        for (;;) {
            m_wake.wait(lock, [this] {
                return m_stop || stage() == Stage::Growing || stage() == Stage::Shrinking;
            });
            if (m_stop)
                return;
            const Stage asked = stage();
            lock.unlock();
            Stage next = Stage::Small;
            if (asked == Stage::Growing) {
                next = m_ring.grow(m_largeBytes) && m_ring.takeTraffic(true) ? Stage::Large
                                                                             : Stage::Refused;
                if (next == Stage::Refused)
                    m_ring.shrink();
            } else {
                m_ring.shrink();
            }
            lock.lock();
            m_stage.store(next, std::memory_order_release);
        }
    }

    PacketRing& m_ring;
    std::size_t m_largeBytes;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_started = false;
    std::atomic<Stage> m_stage{Stage::Small};
    std::thread m_thread; // last: it runs as soon as it is made
};

// A live handle is non-blocking and waited for with poll() together with an eventfd: the
// wake-up only ends a wait, so a batch that is being handed out is always handed out to its
// end (pcap_breakloop would stop it after the frame in progress). A capture file is read with
// plain pcap_dispatch and stopped with pcap_breakloop.
//
// A live Ethernet capture may keep a small ring at rest and a large one only under load: the
// large one belongs to a second socket in one fanout group with libpcap's (PacketRing), and the
// group sends each frame to exactly one of them. Both rings are read at every look, the small
// one first, so a block that one of them still held at a hand-over is never left behind.
class PcapDevice final : public ICaptureDevice {
public:
    PcapDevice(pcap_t* p, bool offline, int timeoutMs, std::size_t ringBytes, UniqueFd wake)
        : m_pcap(p), m_offline(offline), m_link(linkKindOf(pcap_datalink(p))),
          m_fd(offline ? -1 : pcap_get_selectable_fd(p)), m_timeoutMs(timeoutMs),
          m_snapLength(pcap_snapshot(p)), m_wake(std::move(wake)), m_restBytes(ringBytes) {}
    ~PcapDevice() override {
        m_changer.reset();
        m_large.reset(); // leaves the group before its first member goes
        pcap_close(m_pcap);
    }
    PcapDevice(const PcapDevice&) = delete;
    PcapDevice& operator=(const PcapDevice&) = delete;

    int selectableFd() const { return m_fd; }

    void growUnderLoad(std::unique_ptr<PacketRing> large, std::size_t restBytes,
                       std::size_t largeBytes, int quietMs) {
        m_large = std::move(large);
        m_restBytes = restBytes;
        m_largeBytes = largeBytes;
        m_changer = std::make_unique<RingChanger>(*m_large, largeBytes);
        // A second in which less than a thirty-second of the small ring came means the load
        // is gone.
        m_growBytes = restBytes / 32;
        m_quiet = std::chrono::milliseconds(quietMs);
    }

    void watchFlowStarts(std::unique_ptr<FlowStartSocket> starts) { m_starts = std::move(starts); }

    LinkKind linkKind() const override { return m_link; }

    int dispatch(FrameCallback callback, void* user) override {
        if (m_offline) {
            Trampoline t{callback, user};
            const int n = pcap_dispatch(m_pcap, -1, onPcapFrame, reinterpret_cast<u_char*>(&t));
            if (n == PCAP_ERROR_BREAK)
                return kBroken;
            if (n < 0)
                return kReadError;
            return n == 0 ? kEndOfFile : n;
        }
        const int large = m_changer && (m_changer->stage() == Stage::Large ||
                                        m_changer->stage() == Stage::Draining)
                              ? m_large->fd()
                              : -1;
        const int ready = waitForFrames(large, startsFd());
        if (ready != 0)
            return ready;
        // Flow starts first: they are worth most while the connection is young.
        const int starts = readFlowStarts(callback, user);
        Trampoline t{callback, user};
        int n = pcap_dispatch(m_pcap, -1, onPcapFrame, reinterpret_cast<u_char*>(&t));
        if (n == PCAP_ERROR_BREAK)
            return kBroken;
        if (n < 0)
            return kReadError;
        n += starts;
        if (large >= 0)
            n += m_large->read(callback, user, m_snapLength, t.slotBytes);
        const auto now = Clock::now();
        if (m_changer)
            followLoad(t.slotBytes, now);
        // The large ring took the traffic during this batch and was not read yet: no rate. While
        // it is set up (tens of milliseconds, more on a busy machine) the small ring holds a
        // flood only for a few more, and a rate measured since its onset is seldom the whole
        // rate yet: it is looked at twice as often.
        const Stage stage = m_changer ? m_changer->stage() : Stage::Small;
        if (stage == Stage::Large && large < 0)
            m_gatherAtMost = std::chrono::milliseconds::zero();
        else
            m_gatherAtMost =
                PcapCaptureFactory::gatherAtMost(stage == Stage::Large     ? m_largeBytes
                                                 : stage == Stage::Growing ? m_restBytes / 2
                                                                           : m_restBytes,
                                                 t.slotBytes, now - m_lastRead);
        m_lastRead = now;
        return n;
    }

    std::chrono::milliseconds gatherAtMost() const override { return m_gatherAtMost; }

    void breakLoop() override {
        if (m_offline) {
            pcap_breakloop(m_pcap);
            return;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake.get(), &one, sizeof one);
    }

    bool statistics(CaptureStatistics& out) override {
        if (m_offline)
            return false;
        // The kernel's counters of libpcap's socket, summed as libpcap sums them, without its
        // look at the interface's counters in /sys: those count the whole interface's losses,
        // and the confined helper may not open them (two refused calls at every look).
        tpacket_stats_v3 st{};
        socklen_t length = sizeof st;
        if (::getsockopt(m_fd, SOL_PACKET, PACKET_STATISTICS, &st, &length) != 0)
            return false;
        m_counted.received += st.tp_packets;
        m_counted.dropped += st.tp_drops;
        out.received = m_counted.received;
        out.dropped = m_counted.dropped;
        out.ringBytes = m_restBytes;
        if (m_large) {
            const CaptureStatistics large = m_large->statistics();
            out.received += large.received;
            out.dropped += large.dropped;
            const Stage stage = m_changer->stage();
            if (stage == Stage::Large || stage == Stage::Draining)
                out.ringBytes += m_largeBytes;
        }
        return true;
    }

private:
    using Stage = RingChanger::Stage;

    // A rate that fills a quarter of the small ring sooner than a reader usually lets frames
    // gather calls for the large ring. Slower lines keep the small one, which holds them for
    // half a second and more: a TCP stream of ten gigabits a second among them, whose frames
    // are few and large, and which would otherwise pay for a first pass through the large
    // ring's 32 MiB.
    bool needsLargeRing(std::size_t slotBytes, Clock::time_point now) const {
        return PcapCaptureFactory::gatherAtMost(m_restBytes, slotBytes, now - m_lastRead) <
               PcapCaptureFactory::kGather;
    }

    void followLoad(std::size_t slotBytes, Clock::time_point now) {
        switch (m_changer->stage()) {
        case Stage::Refused:
            // No memory for it now: the small ring goes on, a later load tries again.
            m_retryAt = now + std::chrono::seconds(30);
            m_changer->set(Stage::Small);
            return;
        case Stage::Small:
            if (needsLargeRing(slotBytes, now) && now >= m_retryAt) {
                m_lastBusy = m_windowStart = now;
                m_windowBytes = 0;
                m_changer->set(Stage::Growing);
            }
            return;
        case Stage::Draining:
            if (needsLargeRing(slotBytes, now) && m_large->takeTraffic(true)) {
                m_lastBusy = m_windowStart = now;
                m_windowBytes = 0;
                m_changer->set(Stage::Large);
            } else if (now >= m_shrinkAt && m_large->empty()) {
                // Nothing is sent there any more, and what was sent has been read.
                m_changer->set(Stage::Shrinking);
            }
            return;
        case Stage::Large:
            break;
        case Stage::Growing:
        case Stage::Shrinking:
            return;
        }
        m_windowBytes += slotBytes;
        if (now - m_windowStart < std::chrono::seconds(1))
            return;
        if (m_windowBytes >= m_growBytes)
            m_lastBusy = now;
        m_windowStart = now;
        m_windowBytes = 0;
        if (now - m_lastBusy >= m_quiet && m_large->takeTraffic(false)) {
            // A frame on its way when the program changed lands after that in the large ring.
            m_shrinkAt = now + std::chrono::milliseconds(m_timeoutMs);
            m_changer->set(Stage::Draining);
        }
    }

    // Flow starts are looked at while this second's share lasts: a flood of connection
    // attempts then costs a wake-up per second, and its frames are still counted by the ring.
    int startsFd() {
        if (!m_starts)
            return -1;
        if (const auto now = Clock::now(); now - m_startsSecond >= std::chrono::seconds(1)) {
            m_startsSecond = now;
            m_startsLeft = kFlowStartsPerSecond;
        }
        return m_startsLeft > 0 ? m_starts->fd() : -1;
    }

    int readFlowStarts(FrameCallback callback, void* user) {
        if (!m_starts || m_startsLeft <= 0)
            return 0;
        const int n = m_starts->read(callback, user, m_startsLeft);
        m_startsLeft -= n;
        return n;
    }

    // 0 when frames may be ready (or the read time-out passed: the non-blocking read then
    // finds whatever the kernel has), kBroken when woken, kReadError when the wait fails.
    int waitForFrames(int large, int starts) {
        int timeout = m_timeoutMs;
        // Where poll() cannot be trusted to report a buffer that the time-out filled, libpcap
        // says how often to look anyway.
        if (const timeval* tv = pcap_get_required_select_timeout(m_pcap)) {
            const long ms = tv->tv_sec * 1000L + tv->tv_usec / 1000L;
            timeout = static_cast<int>(std::clamp<long>(ms, 1, timeout));
        }
        // A descriptor of -1 is left out by poll().
        pollfd fds[4] = {
            {m_wake.get(), POLLIN, 0}, {m_fd, POLLIN, 0}, {large, POLLIN, 0}, {starts, POLLIN, 0}};
        const int n = ::poll(fds, m_fd < 0 ? 1 : 4, timeout);
        if (n < 0)
            return errno == EINTR ? 0 : kReadError;
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t r = ::read(m_wake.get(), &count, sizeof count);
            return kBroken;
        }
        return 0;
    }

    pcap_t* m_pcap;
    bool m_offline;
    LinkKind m_link;
    int m_fd;
    int m_timeoutMs;
    int m_snapLength;
    UniqueFd m_wake;
    std::unique_ptr<PacketRing> m_large;
    std::size_t m_restBytes = 0;
    std::size_t m_largeBytes = 0;
    std::size_t m_growBytes = 0;
    std::chrono::milliseconds m_quiet{0};
    std::unique_ptr<RingChanger> m_changer;
    std::unique_ptr<FlowStartSocket> m_starts;
    CaptureStatistics m_counted; // of libpcap's socket
    Clock::time_point m_startsSecond;
    int m_startsLeft = 0;
    Clock::time_point m_retryAt;
    Clock::time_point m_shrinkAt;
    Clock::time_point m_lastBusy;
    Clock::time_point m_windowStart;
    std::size_t m_windowBytes = 0;
    Clock::time_point m_lastRead;
    std::chrono::milliseconds m_gatherAtMost = std::chrono::milliseconds::max();
};

// The capture's filter: it accepts every frame, and its result is the number of bytes the
// kernel copies. IPv4 frames (most of what a line carries, and all of a small-packet flood) are
// cut to the link header and `ipv4Bytes`, IPv6 frames whose next header is TCP or UDP to the
// link header, the fixed header and the ports; every other frame (extension headers, tags that
// the kernel left in the frame) keeps `snap`. Where the link header is not known here (cooked
// captures, whose header libpcap builds afterwards), every frame keeps `snap`.
std::vector<bpf_insn> filterProgram(int dlt, int snap, int ipv4Bytes) {
    const auto k = [snap](int v) { return static_cast<bpf_u_int32>(std::min(v, snap)); };
    const auto ret = [](bpf_u_int32 n) {
        const bpf_insn i = BPF_STMT(BPF_RET | BPF_K, n);
        return i;
    };
    if (ipv4Bytes > 0) {
        constexpr int v6Read = 40 + 4;
        if (dlt == DLT_EN10MB)
            return {BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x0800, 0, 1),
                    ret(k(14 + ipv4Bytes)),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x86DD, 0, 3),
                    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 14 + 6),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 6, 2, 0),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 17, 1, 0),
                    ret(k(snap)),
                    ret(k(14 + v6Read))};
        if (dlt == DLT_RAW || dlt == DLT_IPV4)
            return {BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),
                    BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xF0),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x40, 0, 1),
                    ret(k(ipv4Bytes)),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x60, 0, 3),
                    BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 6),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 6, 2, 0),
                    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 17, 1, 0),
                    ret(k(snap)),
                    ret(k(v6Read))};
    }
    return {ret(k(snap))};
}

std::unique_ptr<PcapDevice> openPcap(const std::string& name, const CaptureOptions& options,
                                     int ringBytes, CaptureOpenStatus& status,
                                     std::string& reason) {
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_create(name.c_str(), err);
    if (!p) {
        status = CaptureOpenStatus::DeviceFailed;
        reason = err;
        return nullptr;
    }
    if (pcap_set_buffer_size(p, ringBytes) != 0) {
        pcap_close(p);
        status = CaptureOpenStatus::KernelBufferFailed;
        return nullptr;
    }
    pcap_set_snaplen(p, options.snapLength);
    pcap_set_promisc(p, options.promiscuous ? 1 : 0);
    pcap_set_timeout(p, options.readTimeoutMs);
    const int rc = pcap_activate(p);
    if (rc < 0) {
        // The generic error carries its text in the handle; the specific ones may not.
        const char* text = pcap_geterr(p);
        reason = (text && *text) ? text : pcap_statustostr(rc);
        pcap_close(p);
        status = CaptureOpenStatus::DeviceFailed;
        return nullptr;
    }
    // Without a filter the kernel copies every whole frame (64 KiB with segmentation offload)
    // into the ring and libpcap cuts it only afterwards; with one, the kernel copies only the
    // bytes the filter's result asks for.
    std::vector<bpf_insn> code =
        filterProgram(pcap_datalink(p), options.snapLength, options.ipv4Bytes);
    bpf_program program{static_cast<u_int>(code.size()), code.data()};
    if (pcap_setfilter(p, &program) != 0) {
        reason = pcap_geterr(p);
        pcap_close(p);
        status = CaptureOpenStatus::DeviceFailed;
        return nullptr;
    }
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0 || pcap_setnonblock(p, 1, err) != 0) {
        reason = wake.get() < 0 ? std::strerror(errno) : err;
        pcap_close(p);
        status = CaptureOpenStatus::DeviceFailed;
        return nullptr;
    }
    status = CaptureOpenStatus::Ok;
    return std::make_unique<PcapDevice>(p, false, options.readTimeoutMs,
                                        static_cast<std::size_t>(ringBytes), std::move(wake));
}

// Flow starts for a capture that asked for them. Where they cannot be had, the capture opens
// again with the quick time-out: the frames themselves then tell of new flows soon enough.
std::unique_ptr<PcapDevice> withFlowStarts(std::unique_ptr<PcapDevice> device,
                                           const std::string& name, const CaptureOptions& options,
                                           int ringBytes, CaptureOpenStatus& status,
                                           std::string& reason) {
    if (!device || !options.flowStarts)
        return device;
    if (device->linkKind() == LinkKind::Ethernet) {
        std::string why;
        if (auto starts = FlowStartSocket::open(
                name, options.ipv4Bytes > 0 ? options.ipv4Bytes : options.snapLength,
                options.snapLength, why)) {
            device->watchFlowStarts(std::move(starts));
            return device;
        }
    }
    if (options.readTimeoutMs <= options.quickReadTimeoutMs)
        return device;
    device.reset();
    CaptureOptions quick = options;
    quick.readTimeoutMs = options.quickReadTimeoutMs;
    return openPcap(name, quick, ringBytes, status, reason);
}

} // namespace

std::chrono::milliseconds PcapCaptureFactory::gatherAtMost(std::size_t ringBytes,
                                                           std::size_t batchBytes,
                                                           std::chrono::nanoseconds gathered) {
    if (batchBytes == 0 || gathered <= std::chrono::nanoseconds::zero())
        return std::chrono::milliseconds::max();
    // In floating point: a span of hours times a ring of megabytes overflows 64 bits.
    const double ms = std::chrono::duration<double, std::milli>(gathered).count() *
                      (static_cast<double>(ringBytes) / 4) / static_cast<double>(batchBytes);
    const auto most = std::chrono::hours(1);
    return ms >= std::chrono::duration<double, std::milli>(most).count()
               ? std::chrono::milliseconds(most)
               : std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

std::unique_ptr<ICaptureDevice> PcapCaptureFactory::openLive(const std::string& name,
                                                             const CaptureOptions& options,
                                                             CaptureOpenStatus& status,
                                                             std::string& reason) {
    const int fullBytes = std::min(
        std::max(options.kernelBufferBytes, ringBytesFor(options.snapLength)), kMaxRingBytes);
    const bool growing = options.growUnderLoad && fullBytes > kRestRingBytes;
    std::unique_ptr<PcapDevice> device =
        openPcap(name, options, growing ? kRestRingBytes : fullBytes, status, reason);
    if (!device || !growing)
        return withFlowStarts(std::move(device), name, options, fullBytes, status, reason);
    std::string why;
    std::unique_ptr<PacketRing> large;
    if (device->linkKind() == LinkKind::Ethernet) {
        std::vector<sock_filter> code;
        for (const bpf_insn& i : filterProgram(DLT_EN10MB, options.snapLength, options.ipv4Bytes))
            code.push_back({i.code, i.jt, i.jf, i.k});
        large = PacketRing::open(device->selectableFd(), name, std::move(code),
                                 options.readTimeoutMs, why);
    }
    if (large) {
        device->growUnderLoad(std::move(large), static_cast<std::size_t>(kRestRingBytes),
                              static_cast<std::size_t>(fullBytes), options.quietMsBeforeShrink);
        return withFlowStarts(std::move(device), name, options, fullBytes, status, reason);
    }
    // Not Ethernet, or no second socket: the capture takes the large ring from the start.
    device.reset();
    return withFlowStarts(openPcap(name, options, fullBytes, status, reason), name, options,
                          fullBytes, status, reason);
}

std::unique_ptr<ICaptureDevice> PcapCaptureFactory::openFile(const std::filesystem::path& file,
                                                             std::string& reason) {
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(file.c_str(), err);
    if (!p) {
        reason = err;
        return nullptr;
    }
    return std::make_unique<PcapDevice>(p, true, 0, 0, UniqueFd());
}

std::string PcapCaptureFactory::libraryVersion() const {
    return pcap_lib_version();
}

} // namespace tn
