// One tick's counter work: count adapters, refresh the interface table, find the selected
// adapter's reading. As root it runs inside namespaces holding 3, 100 and 1000 interfaces;
// otherwise on this machine's own interfaces.
#include "capture/adapter.h"
#include "platform/linux/device_names.h"
#include "platform/linux/netlink_interfaces.h"
#include "support/fake_clock.h"
#include "support/netns.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

void tick(benchmark::State& state, const std::string& description) {
    tn::test::FakeClock clock;
    tn::DeviceNames names;
    tn::NetlinkInterfaceTable table(clock, names);
    tn::CAdapter adapter(&table);
    tn::InterfaceReading r;
    int found = 0;
    int count = 0;
    for (auto _ : state) {
        count = adapter.countAdapters();
        adapter.refreshInterfaceTable();
        found += adapter.findInterfaceReading(description, r);
        benchmark::DoNotOptimize(r);
    }
    state.counters["interfaces"] = count + 1; // loopback is not counted as an adapter
    if (found == 0)
        state.SkipWithError("selected adapter not found");
}

// A namespace with lo plus n veths whose peers live in a second namespace.
struct Ns {
    std::unique_ptr<tn::test::NetNs> a, b;
    explicit Ns(int n) {
        const std::string sfx = tn::test::uniqueSuffix();
        a = std::make_unique<tn::test::NetNs>("tnbenA" + sfx);
        b = std::make_unique<tn::test::NetNs>("tnbenB" + sfx);
        std::vector<std::string> lines;
        for (int i = 0; i < n; ++i)
            lines.push_back("link add tb" + std::to_string(i) + " netns " + a->name() +
                            " type veth peer name tp" + std::to_string(i) + " netns " + b->name());
        tn::test::ipBatch(lines);
        a->exec("ip addr add 198.18.9.1/24 dev tb0");
        a->exec("ip link set tb0 up");
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::unique_ptr<Ns> small, large, huge;
    if (tn::test::isRoot()) {
        small = std::make_unique<Ns>(2);
        large = std::make_unique<Ns>(99);
        huge = std::make_unique<Ns>(999);
        benchmark::RegisterBenchmark("TickCounterWork/3_interfaces", [&](benchmark::State& s) {
            tn::test::EnterNetNs in(small->a->name());
            tick(s, "tb0");
        })->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("TickCounterWork/100_interfaces", [&](benchmark::State& s) {
            tn::test::EnterNetNs in(large->a->name());
            tick(s, "tb0");
        })->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("TickCounterWork/1000_interfaces", [&](benchmark::State& s) {
            tn::test::EnterNetNs in(huge->a->name());
            tick(s, "tb0");
        })->Unit(benchmark::kMicrosecond);
    } else {
        benchmark::RegisterBenchmark("TickCounterWork/this_machine", [](benchmark::State& s) {
            tick(s, "eth0");
        })->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
