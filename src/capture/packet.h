#pragma once
#include "capture/frame_layout.h"
#include "capture/net_adapter.h"
#include "capture/thread.h"
#include "platform/capture_device.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

namespace tn {

// The selected adapter's IPv6 addresses and on-link prefixes as the handler compares them: each
// address as two 64-bit halves in memory order, each prefix pre-masked with its mask.
struct Ipv6Set {
    struct Half {
        std::uint64_t hi = 0;
        std::uint64_t lo = 0;
    };
    struct Net {
        Half net;
        Half mask;
    };
    std::vector<Half> self;
    std::vector<Net> nets;

    static Half load(const std::uint8_t* p) {
        Half h;
        std::memcpy(&h.hi, p, 8);
        std::memcpy(&h.lo, p + 8, 8);
        return h;
    }
    explicit Ipv6Set(const std::vector<Ipv6Address>& addresses);
    bool isSelf(Half a) const {
        for (const Half& s : self)
            if (((s.hi ^ a.hi) | (s.lo ^ a.lo)) == 0)
                return true;
        return false;
    }
    bool isLocal(Half a) const {
        for (const Net& n : nets)
            if ((((a.hi & n.mask.hi) ^ n.net.hi) | ((a.lo & n.mask.lo) ^ n.net.lo)) == 0)
                return true;
        return false;
    }
};

// The capture object: opens the capture device of one adapter record and hands every frame it
// delivers to the packet handler on a worker thread of its own. A capture file goes through the
// same worker and handler, so recorded frames are accounted exactly like live ones.
class CPacket : public CThread, public CNetAdapter {
public:
    // The accounting reads the link header (at most 22 bytes: Ethernet with two VLAN tags, or
    // 20 for Linux cooked v2), the 40-byte IPv6 header, its extension headers and 4 bytes of
    // ports; byte counts come from the IP header and the wire length. 128 leaves about 60 bytes
    // for extension headers (a hop-by-hop and a fragment header take 16) and costs the kernel
    // little more than 64.
    static constexpr int kSnapLength = 128;
    // Of an IPv4 packet the accounting reads no more than this: the capture copies no more.
    static constexpr int kIpv4ReadBytes = static_cast<int>(frame::kIpv4ReadBytes);
    static constexpr int kReadTimeoutMs = 500;
    static constexpr int kStatisticsPeriodMs = 1000;

    CPacket(IAdapterSource* adapters, ICaptureFactory* capture);
    ~CPacket() override;

    // Opens record `index` and starts the worker; 1 when capture runs, 0 with the last error
    // text set. libpcap keeps its own user buffer, so `userBufferBytes` only has to be positive.
    int open(int index, int userBufferBytes, int kernelBufferBytes, int promiscuous);
    // Feeds a capture file through the worker as if it were the device of record `index`; the
    // worker ends by itself at the end of the file (waitForExit).
    int openFile(int index, const std::filesystem::path& file);
    // Stops a worker that still runs, then closes every record's device; returns 1.
    int closeAll();
    // Kernel counters of the running capture since it was opened, as the reading thread last
    // took them (about once a second, and when it ends); false while it has taken none (a
    // capture file, or no capture). Any thread.
    bool captureStatistics(CaptureStatistics& out) const;
    // Frames the kernel dropped since the program started, over every capture opened; any thread.
    std::uint64_t framesDropped() const { return m_droppedBefore.load() + m_dropped.load(); }
    // Interfaces came or went: rebuilds the adapter list while capture runs. True when the
    // adapter being captured is still listed unchanged (same index, name, address and mask),
    // which stays selected and keeps its capture; false when it changed or is gone, or nothing
    // is captured, and the caller stops capture and starts again.
    bool refreshKeepingCapture();
    // The capture library's version text ("" without a capture library).
    std::string captureLibraryVersion() const;
    // Installs the selected adapter's IPv6 addresses for the handler; any thread, while the
    // worker runs. Unchanged addresses cost nothing.
    void setIpv6Addresses(const std::vector<Ipv6Address>& addresses);
    // Asks the adapter source for the selected adapter's IPv6 addresses again and installs
    // them when they changed (temporary addresses come and go).
    void refreshIpv6Addresses();

protected:
    virtual void packetHandler(const CaptureHeader& header, const std::uint8_t* frame) = 0;
    // Called on the worker before the first frame of every batch.
    virtual void batchStarting() {}
    // After each read of the device, frames or none (a read that timed out); on the worker.
    virtual void batchEnded() {}
    // Whether the devices opened from now on tell of new TCP flows ahead of their frames (see
    // isFlowStart); where they cannot, they hand frames over sooner instead.
    void setFlowStarts(bool on) { m_flowStarts = on; }

    void run() override;
    void wakeUp() override;

    // Taken from the selected record when its device opens; the handler reads them per frame.
    std::uint32_t m_selAddress = 0;
    std::uint32_t m_selMask = 0;
    LinkKind m_link = LinkKind::Unsupported;

    // The IPv6 addresses for the worker: it takes the newest set when the version moved, so a
    // frame costs one load of the version and the set lives as long as the worker holds it.
    const Ipv6Set& workerIpv6() {
        if (m_ipv6Version.load(std::memory_order_acquire) != m_ipv6Seen) [[unlikely]]
            takeIpv6();
        return *m_ipv6Worker;
    }

private:
    bool m_flowStarts = false;
    void takeIpv6();

    std::mutex m_ipv6Mutex;
    std::shared_ptr<const Ipv6Set> m_ipv6Published; // under m_ipv6Mutex
    std::vector<Ipv6Address> m_ipv6Addresses;       // what was published, under m_ipv6Mutex
    std::atomic<std::uint64_t> m_ipv6Version{0};
    std::shared_ptr<const Ipv6Set> m_ipv6Worker =
        std::make_shared<const Ipv6Set>(std::vector<Ipv6Address>{}); // worker only
    std::uint64_t m_ipv6Seen = 0;                                    // worker only

    static void onFrame(void* user, const CaptureHeader& header, const std::uint8_t* frame);
    int startOn(int index, std::unique_ptr<ICaptureDevice> device);
    bool waitWhileRunning(int ms);
    // On the reading thread only: a device is used by one thread at a time.
    void takeStatistics();
    void forgetStatistics();

    ICaptureFactory* m_factory;
    std::vector<std::unique_ptr<ICaptureDevice>> m_devices; // one slot per adapter record
    ICaptureDevice* m_active = nullptr;
    bool m_newBatch = false;
    std::chrono::steady_clock::time_point m_nextStatistics{};
    std::atomic<bool> m_haveStatistics{false};
    std::atomic<std::uint64_t> m_received{0};
    std::atomic<std::uint64_t> m_dropped{0};       // of the capture now open
    std::atomic<std::uint64_t> m_droppedBefore{0}; // of the captures closed before it
    std::mutex m_idleMutex;
    std::condition_variable m_idle;
};

} // namespace tn
