// How long the program's exit waits for a probe that is stuck in a name lookup: a probe is
// started against a resolver that never answers (5 s per try, one try), and the time taken to
// destroy the probe owner, as the main window does on exit, is measured. Needs root: the
// program moves into namespaces of its own where the silent resolver lives.
#include "platform/linux/linux_icmp.h"
#include "platform/linux/system_clock.h"
#include "stats/probe.h"
#include "support/silent_resolver.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>

namespace {

tn::test::SilentResolver* g_dns = nullptr;

void ProbeOwnerDestroyedDuringLookup(benchmark::State& state) {
    tn::LinuxIcmpFactory icmp;
    tn::SystemClock clock;
    for (auto _ : state) {
        auto probe = std::make_unique<tn::CProbe>(&icmp, clock);
        probe->start("silent.tallynet.test", true);
        if (!g_dns->takeQuery(10000)) {
            state.SkipWithError("the probe sent no query");
            break;
        }
        const auto t0 = std::chrono::steady_clock::now();
        probe.reset();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    tn::test::SilentResolver dns;
    if (::geteuid() != 0 || !dns.enter(5, 1)) {
        std::fprintf(stderr, "needs root: network and mount namespaces\n");
        return 0;
    }
    g_dns = &dns;
    benchmark::RegisterBenchmark("ProbeOwnerDestroyedDuringLookup", ProbeOwnerDestroyedDuringLookup)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
