#pragma once
#include "capture/net_adapter.h"
#include "capture/thread.h"
#include "platform/capture_device.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

namespace tn {

// The capture object: opens the capture device of one adapter record and hands every frame it
// delivers to the packet handler on a worker thread of its own. A capture file goes through the
// same worker and handler, so recorded frames are accounted exactly like live ones.
class CPacket : public CThread, public CNetAdapter {
public:
    // The accounting reads at most 24 bytes past the IP header, whose offset is at most 20 (Linux
    // cooked v2); lengths come from the IP header, so nothing more of a frame is needed.
    static constexpr int kSnapLength = 64;
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

protected:
    virtual void packetHandler(const CaptureHeader& header, const std::uint8_t* frame) = 0;
    // Called on the worker before the first frame of every batch.
    virtual void batchStarting() {}

    void run() override;
    void wakeUp() override;

    // Taken from the selected record when its device opens; the handler reads them per frame.
    std::uint32_t m_selAddress = 0;
    std::uint32_t m_selMask = 0;
    LinkKind m_link = LinkKind::Unsupported;

private:
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
