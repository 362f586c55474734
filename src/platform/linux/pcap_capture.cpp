#include "platform/linux/pcap_capture.h"

#include <algorithm>
#include <pcap/pcap.h>

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

class PcapDevice final : public ICaptureDevice {
public:
    PcapDevice(pcap_t* p, bool offline)
        : m_pcap(p), m_offline(offline), m_link(linkKindOf(pcap_datalink(p))) {}
    ~PcapDevice() override { pcap_close(m_pcap); }
    PcapDevice(const PcapDevice&) = delete;
    PcapDevice& operator=(const PcapDevice&) = delete;

    LinkKind linkKind() const override { return m_link; }

    int dispatch(FrameCallback callback, void* user) override {
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

    // Since libpcap 1.10 this also wakes a reader blocked in poll(), so a stop does not wait
    // for a frame to arrive on an idle link.
    void breakLoop() override { pcap_breakloop(m_pcap); }

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
    pcap_t* m_pcap;
    bool m_offline;
    LinkKind m_link;
};

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
    if (pcap_set_buffer_size(p, std::max(options.kernelBufferBytes, kMinRingBytes)) != 0) {
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
    status = CaptureOpenStatus::Ok;
    return std::make_unique<PcapDevice>(p, false);
}

std::unique_ptr<ICaptureDevice> PcapCaptureFactory::openFile(const std::filesystem::path& file,
                                                             std::string& reason) {
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(file.c_str(), err);
    if (!p) {
        reason = err;
        return nullptr;
    }
    return std::make_unique<PcapDevice>(p, true);
}

std::string PcapCaptureFactory::libraryVersion() const {
    return pcap_lib_version();
}

} // namespace tn
