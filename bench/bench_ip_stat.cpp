// Packet accounting throughput: the handler alone on a realistic mix of frames, and the same
// frames replayed from a capture file through libpcap and the capture worker.
#include "app/global.h"
#include "capture/ip_stat.h"
#include "platform/linux/pcap_capture.h"
#include "support/fake_platform.h"

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

std::vector<std::uint8_t> frame(std::array<std::uint8_t, 4> s, std::array<std::uint8_t, 4> d,
                                std::uint8_t proto, unsigned sp, unsigned dp, unsigned len) {
    std::vector<std::uint8_t> v = {2, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2, 0x08, 0x00, 0x45, 0};
    put16(v, len);
    for (int i = 0; i < 5; ++i)
        v.push_back(i == 4 ? 64 : 0);
    v[20] = 0x40;
    v.push_back(proto);
    put16(v, 0);
    v.insert(v.end(), s.begin(), s.end());
    v.insert(v.end(), d.begin(), d.end());
    put16(v, sp);
    put16(v, dp);
    v.resize(64, 0); // what the snapshot length leaves of a frame
    return v;
}

// About what a desktop sees: mostly web, some mail, DNS and QUIC, LAN chatter, ICMP, a custom
// port, and frames of neighbours when the adapter listens promiscuously.
std::vector<std::vector<std::uint8_t>> mix() {
    const std::array<std::uint8_t, 4> self{198, 18, 0, 10}, nb{198, 18, 0, 20},
        remote{198, 19, 7, 7};
    std::vector<std::vector<std::uint8_t>> kinds = {
        frame(remote, self, 6, 443, 50000, 1500),  frame(self, remote, 6, 50000, 443, 52),
        frame(remote, self, 6, 80, 50001, 1500),   frame(self, remote, 6, 50002, 993, 120),
        frame(remote, self, 6, 25, 50003, 600),    frame(self, remote, 17, 50004, 53, 70),
        frame(remote, self, 17, 443, 50005, 1250), frame(self, nb, 6, 50006, 445, 1400),
        frame(nb, self, 6, 445, 50006, 52),        frame(remote, self, 1, 0, 0, 84),
        frame(self, remote, 6, 50007, 8443, 300),  frame(nb, remote, 6, 50008, 443, 800),
        frame(remote, nb, 6, 443, 50008, 1500),    frame(self, remote, 6, 50009, 21, 60)};
    std::vector<std::vector<std::uint8_t>> out;
    std::mt19937 rng(7);
    for (int i = 0; i < 1024; ++i)
        out.push_back(kinds[rng() % kinds.size()]);
    return out;
}

void BM_PacketHandler(benchmark::State& state) {
    test::FakePlatform fake; // the fake device delivers nothing: it only selects the link type
    PlatformServices os = fake.services();
    os.settings = nullptr;
    CGlobal global(os);
    global.replaceCustomPorts({8443, 6000});
    CIPStat stat(global, fake.clock);
    stat.initialise(0);
    stat.waitForExit();
    stat.setLanOnly(static_cast<int>(state.range(0)));
    const auto frames = mix();
    std::vector<CaptureHeader> headers(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        headers[i].capturedLength = headers[i].wireLength =
            static_cast<std::uint32_t>(frames[i].size());
    for (auto _ : state) {
        stat.batchStarting();
        for (std::size_t i = 0; i < frames.size(); ++i)
            stat.packetHandler(headers[i], frames[i].data());
    }
    benchmark::DoNotOptimize(stat.totalSent());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_PacketHandler)->Arg(0)->Arg(1)->ArgName("lanOnly");

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
                const std::uint32_t rec[4] = {1700000000, 0, static_cast<std::uint32_t>(f.size()),
                                              static_cast<std::uint32_t>(f.size())};
                out.write(reinterpret_cast<const char*>(rec), sizeof rec);
                out.write(reinterpret_cast<const char*>(f.data()),
                          static_cast<std::streamsize>(f.size()));
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
