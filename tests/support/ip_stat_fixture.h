#pragma once
#include "app/global.h"
#include "capture/ip_stat.h"
#include "support/fake_platform.h"
#include "support/frames.h"

#include <gtest/gtest.h>
#include <memory>

namespace tn::test {

// A statistics owner on a fake adapter eth0 = 198.18.0.10/24 whose frames the test hands to
// the packet handler itself, at the fake clock's time.
class IPStatFixture : public ::testing::Test {
protected:
    static constexpr Ip4 kSelf{{198, 18, 0, 10}};
    static constexpr Ip4 kNeighbour{{198, 18, 0, 20}};
    static constexpr Ip4 kNeighbour2{{198, 18, 0, 30}};
    static constexpr Ip4 kRemote{{198, 19, 7, 7}};
    static constexpr Ip4 kRemote2{{198, 19, 9, 9}};

    explicit IPStatFixture(const char* tz = "UTC0") : m_tz(tz) {}

    void SetUp() override {
        clock.setLocal(2026, 3, 17, 10, 0, 0);
        os = fake.services();
        os.settings = nullptr; // defaults, and no settings written
        global = std::make_unique<CGlobal>(os);
        stat = std::make_unique<CIPStat>(*global, clock);
    }

    // Selects adapter 0 with a device of the given link kind that delivers nothing by itself.
    void select(LinkKind link = LinkKind::Ethernet) {
        if (stat->adapterCount() == 0) {
            ASSERT_EQ(stat->initialise(-1), 1);
        }
        capture.next = std::make_unique<FakeDevice>();
        capture.next->link = link;
        ASSERT_EQ(stat->open(0, 524288, 524288, 1), 1);
        stat->waitForExit();
    }

    void feed(const std::vector<std::uint8_t>& frame, std::size_t captured) {
        stat->batchStarting();
        CaptureHeader h;
        h.capturedLength = static_cast<std::uint32_t>(captured);
        h.wireLength = static_cast<std::uint32_t>(frame.size());
        stat->packetHandler(h, m_guard.place(frame, captured));
    }
    void feed(const std::vector<std::uint8_t>& frame) { feed(frame, frame.size()); }

public:
    static TestPacket tcp(Ip4 s, std::uint16_t sp, Ip4 d, std::uint16_t dp, std::uint16_t len) {
        TestPacket p;
        p.src = s;
        p.dst = d;
        p.protocol = 6;
        p.srcPort = sp;
        p.dstPort = dp;
        p.totalLength = len;
        return p;
    }
    static TestPacket other(std::uint8_t protocol, Ip4 s, Ip4 d, std::uint16_t len) {
        TestPacket p = tcp(s, 0, d, 0, len);
        p.protocol = protocol;
        return p;
    }

protected:
    TzScope m_tz;
    FakePlatform fake;
    const TempDir& dir = fake.dir;
    FakeClock& clock = fake.clock;
    FakeAdapterSource& adapters = fake.adapters;
    FakeCaptureFactory& capture = fake.capture;
    PlatformServices os;
    std::unique_ptr<CGlobal> global;
    std::unique_ptr<CIPStat> stat;

private:
    GuardedFrame m_guard;
};

} // namespace tn::test
