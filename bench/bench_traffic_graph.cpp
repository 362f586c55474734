// The graph's sample tick: one pass over n columns of three series, plus the label text.
#include "app/global.h"
#include "graph/traffic_graph_model.h"
#include "platform/platform_services.h"

#include <benchmark/benchmark.h>

namespace {

void SampleTick(benchmark::State& state) {
    tn::CGlobal g(tn::PlatformServices{}); // no settings store: the defaults, nothing written
    g.loadSettings();
    tn::CTrafficGraphModel model(g);
    model.attach(static_cast<int>(state.range(0)), 66);
    model.setScalingMode(1);
    model.setFixedMaximum(16384);
    std::uint32_t v = 1;
    for (auto _ : state) {
        v = v * 1664525u + 1013904223u; // varied values keep the maximum search honest
        model.setCurrentIncoming(v >> 12);
        model.setCurrentOutgoing(v >> 16);
        model.sampleTick();
        benchmark::DoNotOptimize(model.infoText().data());
    }
    state.counters["columns"] = model.columns();
}

} // namespace

// 441 pixels is the main window's control (147 columns); the wider ones show how it scales.
BENCHMARK(SampleTick)->Arg(441)->Arg(1323)->Arg(4410);
BENCHMARK_MAIN();
