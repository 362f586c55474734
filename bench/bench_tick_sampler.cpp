// Cost of one main-window tick in the core: table refresh and lookup, deltas, twenty texts.
#include "../tests/support/fake_clock.h"
#include "app/global.h"
#include "app/tick_sampler.h"
#include "platform/clock.h"
#include "platform/interface_table.h"

#include <benchmark/benchmark.h>

namespace {

// A machine with a dozen interfaces; the watched one is the last in the table.
class Table final : public tn::IInterfaceTable {
public:
    std::vector<tn::InterfaceRow> rows;
    Table() {
        for (int i = 0; i < 12; ++i)
            rows.push_back(
                {"Intel Corporation Ethernet Controller I225-V (enp" + std::to_string(i) + "s0)",
                 1000000ull * i, 500000ull * i, 3600});
    }
    bool refresh(std::vector<tn::InterfaceRow>& out) override {
        for (auto& r : rows) {
            r.inOctets += 123456;
            r.outOctets += 23456;
        }
        out = rows;
        return true;
    }
    int countAdapters() override { return static_cast<int>(rows.size()); }
};

class Capture final : public tn::ICaptureTotals {
public:
    std::uint64_t totalReceived() const override { return 0; }
    std::uint64_t totalSent() const override { return 0; }
    void setLanOnly(int) override {}
    void save() override {}
};

void BM_Tick(benchmark::State& state) {
    tn::test::FakeClock clock;
    tn::PlatformServices os;
    os.clock = &clock;
    tn::CGlobal global(os);
    global.loadSettings();
    Table table;
    tn::CAdapter counters(&table);
    Capture capture;
    tn::CTickSampler sampler(global, clock, counters, capture, nullptr);
    sampler.setAdapterCount(12);
    sampler.setAdapterName(table.rows.back().description);
    sampler.start();
    for (auto _ : state) {
        clock.advance(1);
        benchmark::DoNotOptimize(sampler.tick());
    }
}
BENCHMARK(BM_Tick);

} // namespace

BENCHMARK_MAIN();
