// Cost of one main-window tick in the core: table refresh and lookup, deltas, twenty texts.
#include "app/global.h"
#include "orchestration/tick_sampler.h"
#include "support/fake_platform.h"

#include <benchmark/benchmark.h>

namespace {

void BM_Tick(benchmark::State& state) {
    tn::test::FakePlatform fake;
    tn::test::FakeClock& clock = fake.clock;
    tn::CGlobal global(fake.services());
    global.loadSettings();
    // A machine with a dozen interfaces; the watched one is the last in the table.
    tn::test::FakeInterfaceTable& table = fake.interfaces;
    for (int i = 0; i < 12; ++i)
        table.rows.push_back(
            {"Intel Corporation Ethernet Controller I225-V (enp" + std::to_string(i) + "s0)",
             1000000ull * i, 500000ull * i, 3600});
    table.count = 12;
    tn::CAdapter counters(&table);
    tn::test::FakeStatisticsOwner capture;
    tn::CTickSampler sampler(global, clock, counters, capture, nullptr);
    sampler.setAdapterCount(12);
    sampler.setAdapterName(table.rows.back().description);
    sampler.start();
    for (auto _ : state) {
        for (auto& r : table.rows) {
            r.inOctets += 123456;
            r.outOctets += 23456;
        }
        clock.advance(1);
        benchmark::DoNotOptimize(sampler.tick());
    }
}
BENCHMARK(BM_Tick);

} // namespace

BENCHMARK_MAIN();
