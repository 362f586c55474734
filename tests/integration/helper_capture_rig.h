#pragma once
// What the capture integration tests share: the kernel's own byte counters of the host side of
// a veth, and a statistics owner that captures through the helper of this build tree, as the
// program does.
#include "app/global.h"
#include "capture/ip_stat.h"
#include "platform/clock.h"
#include "platform/linux/helper_capture.h"
#include "support/netns.h"
#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace tn::test {

// IP bytes a veth end sent and received: veth counts every frame with its 14-byte Ethernet
// header, and nothing but the test's own datagrams crosses the link.
struct IpBytes {
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
};

inline IpBytes linkIpBytes(const std::string& ifname) {
    return {readCounter(ifname, "tx_bytes") - 14 * readCounter(ifname, "tx_packets"),
            readCounter(ifname, "rx_bytes") - 14 * readCounter(ifname, "rx_packets")};
}

// Waits until the link is quiet (delayed ACKs, FIN exchanges) and returns what crossed it
// since `before`.
inline IpBytes settleLink(const std::string& ifname, const IpBytes& before) {
    using namespace std::chrono_literals;
    IpBytes last = linkIpBytes(ifname);
    for (int quiet = 0, i = 0; quiet < 4 && i < 100; ++i) {
        std::this_thread::sleep_for(100ms);
        const IpBytes now = linkIpBytes(ifname);
        quiet = (now.sent == last.sent && now.received == last.received) ? quiet + 1 : 0;
        last = now;
    }
    return {last.sent - before.sent, last.received - before.received};
}

// The real platform in a folder of its own, with capture through the build tree's helper.
struct HelperCaptureRig {
    HelperCaptureRig() : paths(dir.path()), platform(createPlatform()), os(platform->services()) {
        os.capture = &helper;
        os.paths = &paths;
        os.settings = nullptr;
        os.autostart = nullptr;
        global = std::make_unique<CGlobal>(os);
        stat = std::make_unique<CIPStat>(*global, *os.clock);
    }

    // The adapter record of interface `name` after a fresh list; -1 when it is not listed.
    int indexOf(const std::string& name) {
        if (stat->initialise(-1) != 1)
            return -1;
        for (int i = 0; i < stat->adapterCount(); ++i)
            if (stat->record(i).name == name)
                return i;
        return -1;
    }

    TempDir dir;
    TempPaths paths;
    std::unique_ptr<Platform> platform;
    PlatformServices os;
    HelperCaptureFactory helper{TALLYNET_CAPTURE_HELPER};
    std::unique_ptr<CGlobal> global;
    std::unique_ptr<CIPStat> stat;
};

// What a capture through the helper, asked for flow starts, handed out while `traffic` ran on
// interface `ifname`: the ports each flow start carried, and the frames (not counting flow
// starts) against the frames the link moved.
struct FlowStartWatch {
    std::multiset<std::pair<std::uint16_t, std::uint16_t>> starts; // source, destination port
    std::uint64_t frames = 0;
    std::uint64_t linkFrames = 0;
    bool opened = false;
};

inline FlowStartWatch watchFlowStarts(const std::string& ifname,
                                      const std::function<void()>& traffic) {
    using namespace std::chrono_literals;
    FlowStartWatch w;
    HelperCaptureFactory factory{TALLYNET_CAPTURE_HELPER};
    CaptureOptions options;
    options.flowStarts = true;
    options.promiscuous = false;
    options.snapLength = 128;
    options.ipv4Bytes = 24;
    CaptureOpenStatus status = CaptureOpenStatus::DeviceFailed;
    std::string reason;
    std::unique_ptr<ICaptureDevice> device = factory.openLive(ifname, options, status, reason);
    if (!device)
        return w;
    w.opened = true;
    const auto linkFrames = [&ifname] {
        return readCounter(ifname, "tx_packets") + readCounter(ifname, "rx_packets");
    };
    const std::uint64_t before = linkFrames();
    struct Seen {
        std::atomic<std::uint64_t> frames{0}; // read while the reader runs
        std::multiset<std::pair<std::uint16_t, std::uint16_t>> starts;
    } seen;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        const auto onFrame = [](void* user, const CaptureHeader& h, const std::uint8_t* f) {
            auto* watch = static_cast<Seen*>(user);
            if (!isFlowStart(h)) {
                watch->frames.fetch_add(1);
                return;
            }
            // Ethernet, then IPv4 (its ports 20 bytes in, as the capture reads them) or IPv6.
            const std::size_t ports = h.capturedLength > 13 && f[12] == 0x86 ? 14 + 40 : 14 + 20;
            if (h.capturedLength >= ports + 4)
                watch->starts.insert(
                    {static_cast<std::uint16_t>(f[ports] << 8 | f[ports + 1]),
                     static_cast<std::uint16_t>(f[ports + 2] << 8 | f[ports + 3])});
            else
                watch->starts.insert({0, 0});
        };
        while (!stop.load())
            if (device->dispatch(onFrame, &seen) == ICaptureDevice::kReadError)
                break;
    });
    traffic();
    for (int i = 0; i < 100 && seen.frames.load() < linkFrames() - before; ++i)
        std::this_thread::sleep_for(50ms);
    stop.store(true);
    device->breakLoop();
    reader.join();
    w.frames = seen.frames.load();
    w.starts = std::move(seen.starts);
    w.linkFrames = linkFrames() - before;
    return w;
}

} // namespace tn::test
