// One paint of the main window's traffic graph with every column holding traffic, the info
// text and the crosshair read-out: what the repaint timer costs ten times a second.
#include "app/global.h"
#include "platform/platform_services.h"
#include "ui/main/traffic_button.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

void PaintFullControl(benchmark::State& state, int timeBase, int infoMode, bool sampleEachPaint) {
    tn::CGlobal g(tn::PlatformServices{}); // no settings store: nothing is written
    g.loadSettings();
    g.GNfoMode = infoMode;
    tn::MFTrafficButton graph(g);
    graph.resize(441, 66);
    graph.attach();
    graph.setScalingMode(1);
    graph.restorePinPoint((200 << 16) + 30);
    std::uint32_t v = 7;
    // 3600 samples fill the per-second series and close the first hour and 60 minutes.
    for (int k = 0; k < 3600; ++k) {
        v = v * 1664525u + 1013904223u;
        graph.setCurrentIncoming(1000 + (v >> 14));
        graph.setCurrentOutgoing(100 + (v >> 20));
        graph.sampleTick();
    }
    graph.selectTimeBase(timeBase);
    graph.sampleTick();
    QImage target(441, 66, QImage::Format_RGB32);
    QPainter p(&target);
    for (auto _ : state) {
        // Real paints meet a new sample (and new label texts) once in ten; this variant
        // pays for one every time.
        if (sampleEachPaint)
            graph.sampleTick();
        graph.renderFrame(p);
        benchmark::ClobberMemory();
    }
    int visible = 0;
    for (std::uint32_t i = 0; i < graph.model().columns(); ++i)
        visible += graph.model().valueAt(i) > 0;
    state.counters["bars"] = visible;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("PaintFullControl/second",
                                 [](benchmark::State& s) { PaintFullControl(s, 0, 1, false); });
    benchmark::RegisterBenchmark("PaintFullControl/minute",
                                 [](benchmark::State& s) { PaintFullControl(s, 1, 1, false); });
    benchmark::RegisterBenchmark("PaintFullControl/second_info_mode_off",
                                 [](benchmark::State& s) { PaintFullControl(s, 0, 0, false); });
    benchmark::RegisterBenchmark("PaintFullControl/second_with_a_sample_each_paint",
                                 [](benchmark::State& s) { PaintFullControl(s, 0, 1, true); });
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
