#pragma once
#include "platform/adapter_source.h"
#include "platform/capture_device.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tn::test {

class FakeAdapterSource final : public IAdapterSource {
public:
    std::vector<AdapterInfo> adapters = {
        {"eth0", "Test NIC (eth0)", "198.18.0.10", "255.255.255.0"}};
    AdapterListStatus status = AdapterListStatus::Ok;
    AdapterListStatus list(std::vector<AdapterInfo>& out) override {
        out = adapters;
        return status;
    }
    bool ipv6Addresses(const std::string& name, std::vector<Ipv6Address>& out) override {
        out.clear();
        for (const AdapterInfo& a : adapters)
            if (a.name == name) {
                out = a.ipv6;
                return true;
            }
        return false;
    }
    std::string defaultRoute; // the interface the fake default route goes through
    std::string defaultRouteInterface() override { return defaultRoute; }
    bool reportsRoute = false; // off: the window shows no "Automatic" entry, as before
    bool reportsDefaultRoute() const override { return reportsRoute; }
};

// A device that hands out its frames in batches of `batchSize` and then, when `endless` is
// off, reports the end of the file; an endless one repeats its frames until woken.
class FakeDevice final : public ICaptureDevice {
public:
    LinkKind link = LinkKind::Ethernet;
    std::vector<std::vector<std::uint8_t>> frames;
    bool endless = false;
    bool blockWhenIdle = false; // with no frames, wait in dispatch until breakLoop
    std::size_t batchSize = 64;
    std::atomic<int> dispatches{0};

    LinkKind linkKind() const override { return link; }
    int dispatch(FrameCallback callback, void* user) override {
        ++dispatches;
        m_dispatcher = std::this_thread::get_id();
        if (blockWhenIdle) {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_broken; });
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_broken) {
                m_broken = false;
                return kBroken;
            }
        }
        if (frames.empty() || (!endless && m_next >= frames.size()))
            return endless ? 0 : kEndOfFile;
        int n = 0;
        for (std::size_t i = 0; i < batchSize; ++i) {
            if (m_next >= frames.size()) {
                if (!endless)
                    break;
                m_next = 0;
            }
            const auto& f = frames[m_next++];
            CaptureHeader h;
            h.capturedLength = h.wireLength = static_cast<std::uint32_t>(f.size());
            callback(user, h, f.data());
            ++n;
        }
        return n;
    }
    void breakLoop() override {
        std::lock_guard lock(m_mutex);
        m_broken = true;
        m_wake.notify_all();
    }
    // With `reportsStatistics`, the kernel counters a live device would give; statistics() notes
    // whether it was ever asked from a thread other than the one that dispatches (shared, so a
    // test can look after the capture has closed the device).
    bool reportsStatistics = false;
    std::atomic<std::uint64_t> dropped{0};
    std::shared_ptr<std::atomic<bool>> statisticsOffThread = std::make_shared<std::atomic<bool>>();
    bool statistics(CaptureStatistics& out) override {
        if (m_dispatcher != std::thread::id() && m_dispatcher != std::this_thread::get_id())
            *statisticsOffThread = true;
        if (!reportsStatistics)
            return false;
        out.received = static_cast<std::uint64_t>(dispatches.load()) * batchSize;
        out.dropped = dropped;
        return true;
    }

private:
    std::size_t m_next = 0;
    std::atomic<std::thread::id> m_dispatcher{};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_broken = false;
};

// Hands out the device that the test prepared (once), or fails the way the test asks.
class FakeCaptureFactory final : public ICaptureFactory {
public:
    std::unique_ptr<FakeDevice> next = std::make_unique<FakeDevice>();
    FakeDevice* last = nullptr;
    CaptureOpenStatus failWith = CaptureOpenStatus::Ok;
    std::string reason;
    std::string openedName;

    std::unique_ptr<ICaptureDevice> openLive(const std::string& name, const CaptureOptions&,
                                             CaptureOpenStatus& status, std::string& why) override {
        openedName = name;
        status = failWith;
        why = reason;
        if (failWith != CaptureOpenStatus::Ok || !next)
            return nullptr;
        last = next.get();
        return std::move(next);
    }
    std::unique_ptr<ICaptureDevice> openFile(const std::filesystem::path&,
                                             std::string& why) override {
        why = "not here";
        return nullptr;
    }
    std::string libraryVersion() const override { return "fake 1.0"; }
};

} // namespace tn::test
