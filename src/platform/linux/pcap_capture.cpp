#include "platform/linux/pcap_capture.h"

#include "platform/linux/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace tn {

namespace {

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
};

void onPcapFrame(u_char* user, const pcap_pkthdr* h, const u_char* bytes) {
    const auto* t = reinterpret_cast<const Trampoline*>(user);
    CaptureHeader header;
    header.capturedLength = h->caplen;
    header.wireLength = h->len;
    t->callback(t->user, header, bytes);
}

// A live handle is non-blocking and waited for with poll() together with an eventfd: the
// wake-up only ends a wait, so a batch that is being handed out is always handed out to its
// end (pcap_breakloop would stop it after the frame in progress). A capture file is read with
// plain pcap_dispatch and stopped with pcap_breakloop.
class PcapDevice final : public ICaptureDevice {
public:
    PcapDevice(pcap_t* p, bool offline, int timeoutMs, UniqueFd wake)
        : m_pcap(p), m_offline(offline), m_link(linkKindOf(pcap_datalink(p))),
          m_fd(offline ? -1 : pcap_get_selectable_fd(p)), m_timeoutMs(timeoutMs),
          m_wake(std::move(wake)) {}
    ~PcapDevice() override { pcap_close(m_pcap); }
    PcapDevice(const PcapDevice&) = delete;
    PcapDevice& operator=(const PcapDevice&) = delete;

    LinkKind linkKind() const override { return m_link; }

    int dispatch(FrameCallback callback, void* user) override {
        if (!m_offline) {
            const int ready = waitForFrames();
            if (ready != 0)
                return ready;
        }
        Trampoline t{callback, user};
        const int n = pcap_dispatch(m_pcap, -1, onPcapFrame, reinterpret_cast<u_char*>(&t));
        if (n == PCAP_ERROR_BREAK)
            return kBroken;
        if (n < 0)
            return kReadError;
        if (n == 0 && m_offline)
            return kEndOfFile;
        return n;
    }

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
        pcap_stat st{};
        if (pcap_stats(m_pcap, &st) != 0)
            return false;
        out.received = st.ps_recv;
        out.dropped = st.ps_drop;
        return true;
    }

private:
    // 0 when frames may be ready (or the read time-out passed: the non-blocking read then
    // finds whatever the kernel has), kBroken when woken, kReadError when the wait fails.
    int waitForFrames() {
        int timeout = m_timeoutMs;
        // Where poll() cannot be trusted to report a buffer that the time-out filled, libpcap
        // says how often to look anyway.
        if (const timeval* tv = pcap_get_required_select_timeout(m_pcap)) {
            const long ms = tv->tv_sec * 1000L + tv->tv_usec / 1000L;
            timeout = static_cast<int>(std::clamp<long>(ms, 1, timeout));
        }
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        const int n = m_fd >= 0 ? ::poll(fds, 2, timeout) : ::poll(&fds[1], 1, timeout);
        if (n < 0)
            return errno == EINTR ? 0 : kReadError;
        if (fds[1].revents != 0) {
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
    UniqueFd m_wake;
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

} // namespace

std::unique_ptr<ICaptureDevice> PcapCaptureFactory::openLive(const std::string& name,
                                                             const CaptureOptions& options,
                                                             CaptureOpenStatus& status,
                                                             std::string& reason) {
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_create(name.c_str(), err);
    if (!p) {
        status = CaptureOpenStatus::DeviceFailed;
        reason = err;
        return nullptr;
    }
    if (pcap_set_buffer_size(
            p, std::min(std::max(options.kernelBufferBytes, ringBytesFor(options.snapLength)),
                        kMaxRingBytes)) != 0) {
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
    return std::make_unique<PcapDevice>(p, false, options.readTimeoutMs, std::move(wake));
}

std::unique_ptr<ICaptureDevice> PcapCaptureFactory::openFile(const std::filesystem::path& file,
                                                             std::string& reason) {
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(file.c_str(), err);
    if (!p) {
        reason = err;
        return nullptr;
    }
    return std::make_unique<PcapDevice>(p, true, 0, UniqueFd());
}

std::string PcapCaptureFactory::libraryVersion() const {
    return pcap_lib_version();
}

} // namespace tn
