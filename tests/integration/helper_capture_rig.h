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

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

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

} // namespace tn::test
