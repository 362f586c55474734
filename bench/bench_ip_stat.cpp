// Packet accounting throughput: the handler alone on a realistic mix of frames, and the same
// frames replayed from a capture file through libpcap and the capture worker.
#include "app/global.h"
#include "capture/ip_stat.h"
#include "platform/adapter_source.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/system_clock.h"
#include "platform/paths.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

namespace {

using namespace tn;

class OneAdapter final : public IAdapterSource {
public:
    AdapterListStatus list(std::vector<AdapterInfo>& out) override {
        out = {{"eth0", "Bench NIC (eth0)", "198.18.0.10", "255.255.255.0"}};
        return AdapterListStatus::Ok;
    }
};

// A device that delivers nothing: it only selects the adapter and the link type.
class EmptyDevice final : public ICaptureDevice {
public:
    LinkKind linkKind() const override { return LinkKind::Ethernet; }
    int dispatch(FrameCallback, void*) override { return kEndOfFile; }
    void breakLoop() override {}
    bool statistics(CaptureStatistics&) override { return false; }
};

class EmptyFactory final : public ICaptureFactory {
public:
    std::unique_ptr<ICaptureDevice> openLive(const std::string&, const CaptureOptions&,
                                             CaptureOpenStatus& status, std::string&) override {
        status = CaptureOpenStatus::Ok;
        return std::make_unique<EmptyDevice>();
    }
    std::unique_ptr<ICaptureDevice> openFile(const std::filesystem::path&, std::string&) override {
        return nullptr;
    }
    std::string libraryVersion() const override { return {}; }
};

class BenchPaths final : public IPaths {
public:
    explicit BenchPaths(std::filesystem::path root) : m_root(std::move(root)) {}
    std::filesystem::path dataDirectory() const override { return m_root; }
    std::filesystem::path configDirectory() const override { return m_root; }
    std::filesystem::path runtimeDirectory() const override { return m_root; }
    std::filesystem::path executablePath() const override { return {}; }

private:
    std::filesystem::path m_root;
};

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

struct Setup {
    SystemClock clock;
    OneAdapter adapters;
    EmptyFactory empty;
    PcapCaptureFactory pcap;
    std::filesystem::path dir;
    PlatformServices os;

    Setup() {
        char tmpl[] = "/tmp/tallynet-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        os.clock = &clock;
        os.adapters = &adapters;
    }
    ~Setup() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

void BM_PacketHandler(benchmark::State& state) {
    Setup setup;
    BenchPaths paths(setup.dir);
    setup.os.paths = &paths;
    setup.os.capture = &setup.empty;
    CGlobal global(setup.os);
    global.replaceCustomPorts({8443, 6000});
    CIPStat stat(global, setup.clock);
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
    Setup setup;
    BenchPaths paths(setup.dir);
    setup.os.paths = &paths;
    setup.os.capture = &setup.pcap;
    CGlobal global(setup.os);
    CIPStat stat(global, setup.clock);
    stat.initialise(-1);
    const auto file = setup.dir / "mix.pcap";
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
