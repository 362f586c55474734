// Packet accounting throughput: the handler alone on a realistic mix of frames, and the same
// frames replayed from a capture file through libpcap and the capture worker.
#include "app/global.h"
#include "capture/frame_layout.h"
#include "capture/ip_stat.h"
#include "platform/linux/pcap_capture.h"
#include "support/fake_platform.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using namespace tn;

void put16(std::vector<std::uint8_t>& v, unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x >> 8));
    v.push_back(static_cast<std::uint8_t>(x));
}

struct Frame {
    std::vector<std::uint8_t> bytes; // what the snapshot length leaves of the frame
    std::uint32_t wire = 0;          // its length on the wire
};

// An Ethernet frame, with `tags` VLAN tags, around an IP packet of `len` bytes whose first
// bytes are `ip`.
Frame ethernet(const std::vector<std::uint8_t>& ip, std::uint16_t type, unsigned len,
               int tags = 0) {
    std::vector<std::uint8_t> v = {2, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2};
    for (int i = 0; i < tags; ++i) {
        put16(v, i == 0 && tags == 2 ? 0x88A8 : 0x8100);
        put16(v, 100);
    }
    put16(v, type);
    v.insert(v.end(), ip.begin(), ip.end());
    const auto link = static_cast<unsigned>(v.size() - ip.size());
    v.resize(std::min<std::size_t>(link + len, 128), 0);
    return Frame{v, link + len};
}

Frame frame(std::array<std::uint8_t, 4> s, std::array<std::uint8_t, 4> d, std::uint8_t proto,
            unsigned sp, unsigned dp, unsigned len, int tags = 0) {
    std::vector<std::uint8_t> v = {0x45, 0};
    put16(v, len);
    for (int i = 0; i < 5; ++i)
        v.push_back(i == 4 ? 64 : 0);
    v[4] = 0x40;
    v.push_back(proto);
    put16(v, 0);
    v.insert(v.end(), s.begin(), s.end());
    v.insert(v.end(), d.begin(), d.end());
    put16(v, sp);
    put16(v, dp);
    return ethernet(v, 0x0800, len, tags);
}

using Ip6 = std::array<std::uint8_t, 16>;
Ip6 ip6(std::uint16_t net, std::uint16_t host) {
    Ip6 a{0x20, 0x01, 0x0d, 0xb8};
    a[4] = static_cast<std::uint8_t>(net >> 8);
    a[5] = static_cast<std::uint8_t>(net);
    a[14] = static_cast<std::uint8_t>(host >> 8);
    a[15] = static_cast<std::uint8_t>(host);
    return a;
}

// An IPv6 packet of `len` bytes; with `hopByHop` an 8-byte hop-by-hop header comes first.
Frame frame6(const Ip6& s, const Ip6& d, std::uint8_t next, unsigned sp, unsigned dp, unsigned len,
             bool hopByHop = false, int tags = 0) {
    std::vector<std::uint8_t> v = {0x60, 0, 0, 0};
    put16(v, len - 40);
    v.push_back(hopByHop ? 0 : next);
    v.push_back(64);
    v.insert(v.end(), s.begin(), s.end());
    v.insert(v.end(), d.begin(), d.end());
    if (hopByHop)
        v.insert(v.end(), {next, 0, 5, 2, 0, 0, 1, 0}); // router alert
    put16(v, sp);
    put16(v, dp);
    return ethernet(v, 0x86DD, len, tags);
}

// About what a desktop sees: mostly web, over IPv4 and IPv6, some mail, DNS and QUIC, LAN
// chatter, ICMP and ICMPv6, a custom port, VLAN-tagged frames, and frames of neighbours when
// the adapter listens promiscuously.
std::vector<Frame> mix(bool ipv4Only = false, bool flood = false) {
    const std::array<std::uint8_t, 4> self{198, 18, 0, 10}, nb{198, 18, 0, 20},
        remote{198, 19, 7, 7};
    const Ip6 self6 = ip6(1, 0x10), temp6 = ip6(1, 0x2b61), nb6 = ip6(1, 0x20),
              remote6 = ip6(0xffff, 1);
    std::vector<Frame> kinds = {frame(remote, self, 6, 443, 50000, 1500),
                                frame(self, remote, 6, 50000, 443, 52),
                                frame(remote, self, 6, 80, 50001, 1500),
                                frame(self, remote, 6, 50002, 993, 120),
                                frame(remote, self, 6, 25, 50003, 600),
                                frame(self, remote, 17, 50004, 53, 70),
                                frame(remote, self, 17, 443, 50005, 1250),
                                frame(self, nb, 6, 50006, 445, 1400),
                                frame(nb, self, 6, 445, 50006, 52),
                                frame(remote, self, 1, 0, 0, 84),
                                frame(self, remote, 6, 50007, 8443, 300),
                                frame(nb, remote, 6, 50008, 443, 800),
                                frame(remote, nb, 6, 443, 50008, 1500),
                                frame(self, remote, 6, 50009, 21, 60),
                                frame(remote, self, 6, 443, 50010, 1500, 1),
                                frame6(remote6, self6, 6, 443, 50000, 1500),
                                frame6(self6, remote6, 6, 50000, 443, 72),
                                frame6(remote6, temp6, 17, 443, 50001, 1280),
                                frame6(temp6, remote6, 17, 50001, 443, 90),
                                frame6(self6, nb6, 6, 50002, 22, 200),
                                frame6(nb6, remote6, 6, 50003, 80, 600),
                                frame6(remote6, self6, 58, 0, 0, 104),
                                frame6(self6, remote6, 58, 0, 0, 76, true),
                                frame6(remote6, self6, 6, 443, 50004, 1500, false, 2)};
    if (ipv4Only)
        kinds.resize(14); // the mix before IPv6 and VLAN frames were counted
    if (flood)
        kinds.resize(1); // one download: the case of the load benchmark
    std::vector<Frame> out;
    std::mt19937 rng(7);
    for (int i = 0; i < 1024; ++i)
        out.push_back(kinds[rng() % kinds.size()]);
    return out;
}

// Names every flow after its local port, as if each were another program's.
class NamingOwners final : public ISocketOwners {
public:
    std::optional<std::string> ownerOf(const FlowKey& flow) override {
        return "program " + std::to_string(flow.localPort % 40);
    }
    std::uint64_t knowledge() const override { return 1; }
};

void BM_PacketHandler(benchmark::State& state) {
    test::FakePlatform fake; // the fake device delivers nothing: it only selects the link type
    fake.adapters.adapters[0].ipv6 = {
        Ipv6Address{ip6(1, 0x10), 64}, Ipv6Address{ip6(1, 0x2b61), 64},
        Ipv6Address{Ip6{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10}, 64}};
    PlatformServices os = fake.services();
    os.settings = nullptr;
    NamingOwners owners;
    os.socketOwners = &owners;
    CGlobal global(os);
    global.replaceCustomPorts({8443, 6000});
    global.CountApps = static_cast<std::int32_t>(state.range(2)); // traffic per program
    CIPStat stat(global, fake.clock);
    stat.initialise(0);
    stat.waitForExit();
    stat.setLanOnly(static_cast<int>(state.range(0)));
    const auto frames = mix(state.range(1) == 1, state.range(1) == 2);
    std::vector<CaptureHeader> headers(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        headers[i].capturedLength = static_cast<std::uint32_t>(frames[i].bytes.size());
        headers[i].wireLength = frames[i].wire;
    }
    for (auto _ : state) {
        stat.batchStarting();
        for (std::size_t i = 0; i < frames.size(); ++i)
            stat.packetHandler(headers[i], frames[i].bytes.data());
        stat.batchEnded();
    }
    benchmark::DoNotOptimize(stat.totalSent());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_PacketHandler)
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {0, 1}})
    ->ArgNames({"lanOnly", "mix", "apps"}); // mix 0: IPv4 and IPv6, 1: IPv4 only, 2: one flow

// The capture helper's cut of every frame to the headers the accounting reads, on the same mix
// (the frames' bytes as the kernel's filter leaves them: at most 128).
void BM_HelperCut(benchmark::State& state) {
    const auto frames = mix();
    std::uint64_t kept = 0;
    for (auto _ : state)
        for (const Frame& f : frames)
            kept += frame::accountedBytes(
                LinkKind::Ethernet, f.bytes.data(),
                static_cast<std::uint32_t>(std::min<std::size_t>(f.bytes.size(), 128)));
    benchmark::DoNotOptimize(kept);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_HelperCut);

void BM_ReplayCaptureFile(benchmark::State& state) {
    test::FakePlatform fake;
    PcapCaptureFactory pcap;
    PlatformServices os = fake.services();
    os.settings = nullptr;
    os.capture = &pcap;
    CGlobal global(os);
    CIPStat stat(global, fake.clock);
    stat.initialise(-1);
    const auto file = fake.dir / "mix.pcap";
    const auto frames = mix();
    const int rounds = 200;
    {
        std::ofstream out(file, std::ios::binary);
        const std::uint32_t head[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
        out.write(reinterpret_cast<const char*>(head), sizeof head);
        for (int r = 0; r < rounds; ++r)
            for (const auto& f : frames) {
                const std::uint32_t rec[4] = {1700000000, 0,
                                              static_cast<std::uint32_t>(f.bytes.size()), f.wire};
                out.write(reinterpret_cast<const char*>(rec), sizeof rec);
                out.write(reinterpret_cast<const char*>(f.bytes.data()),
                          static_cast<std::streamsize>(f.bytes.size()));
            }
    }
    for (auto _ : state) {
        stat.openFile(0, file);
        stat.waitForExit();
    }
    state.SetItemsProcessed(state.iterations() * rounds * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_ReplayCaptureFile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
