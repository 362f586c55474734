// The history viewer's costs: one paint of the chart with 31 days, one fill of the table (the
// rules alone, and as a click on a bar runs it with the cells' texts), and opening the viewer.
// With TALLYNET_SCREENSHOT=<file.png> it also saves a picture of the viewer with a month of
// made-up but plausible traffic.
#include "app/global.h"
#include "stats/history_table.h"
#include "support/fake_platform.h"
#include "ui/dialogs/log_viewer.h"
#include "ui/dialogs/ns_chart_ctrl.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

// A month of a household line: mostly web, some video calls (UDP), a weekend of downloads.
tn::StatRecords plausibleMonth() {
    tn::StatRecords r;
    std::uint32_t v = 12345;
    auto noise = [&v](std::uint64_t scale) {
        v = v * 1664525u + 1013904223u;
        return scale / 2 + (static_cast<std::uint64_t>(v >> 8) % scale);
    };
    const int weights[8] = {60, 3, 0, 8, 20, 4, 1, 4}; // per category, received
    for (std::size_t d = 0; d < 31; ++d) {
        const std::uint64_t day = (d % 7 == 5 || d % 7 == 6) ? 900u << 20 : 350u << 20;
        for (std::size_t k = 0; k < 8; ++k) {
            r.daysReceived[d][k] = noise(day / 100 * static_cast<std::uint64_t>(weights[k]) + 1);
            r.daysSent[d][k] = r.daysReceived[d][k] / (k == 4 ? 2 : 12);
        }
    }
    r.daysReceived[13][3] = 1200ull << 20; // one big download
    for (std::size_t m = 0; m < 12; ++m)
        for (std::size_t k = 0; k < 8; ++k) {
            r.monthsReceived[m][k] = noise((12ull << 30) / 100 * (weights[k] + 1));
            r.monthsSent[m][k] = r.monthsReceived[m][k] / 10;
        }
    return r;
}

struct Scene {
    tn::test::TzScope tz{"UTC0"};
    tn::test::FakeClock clock;
    tn::CGlobal global{tn::PlatformServices{}};
    tn::test::FakeStatisticsOwner owner;
    Scene() {
        global.loadSettings();
        global.CustField = 1;
        global.CustName1 = "Games";
        clock.setLocal(2026, 12, 17, 20, 30);
        owner.recordsValue = plausibleMonth();
    }
};

void PaintChart31(benchmark::State& state) {
    Scene s;
    tn::ui::CLogViewer viewer(s.global, s.clock, &s.owner);
    tn::ui::CNSChartCtrl* chart = viewer.chart();
    QImage target(chart->size(), QImage::Format_RGB32);
    QPainter p(&target);
    for (auto _ : state) {
        p.drawPixmap(0, 0, chart->renderSurface());
        benchmark::ClobberMemory();
    }
    state.counters["values"] = static_cast<double>(chart->model().count());
}

void FillTableRules(benchmark::State& state) {
    Scene s;
    tn::HistoryTable table(s.clock);
    table.fillChart(&s.owner.recordsValue);
    int day = 0;
    for (auto _ : state) {
        table.selectBar(day, &s.owner.recordsValue, 1, "Games");
        day = (day + 1) % 31;
        benchmark::DoNotOptimize(table.cell(0, 0).data());
    }
}

// A click on a bar: a snapshot of the records, the title, 27 cell texts.
void FillTableOnClick(benchmark::State& state) {
    Scene s;
    tn::ui::CLogViewer viewer(s.global, s.clock, &s.owner);
    int day = 0;
    for (auto _ : state) {
        emit viewer.chart()->clicked(day, QString(), 0.0);
        day = (day + 1) % 31;
    }
}

void OpenViewer(benchmark::State& state) {
    Scene s;
    for (auto _ : state) {
        tn::ui::CLogViewer viewer(s.global, s.clock, &s.owner);
        benchmark::DoNotOptimize(viewer.chart());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (const QByteArray file = qgetenv("TALLYNET_SCREENSHOT"); !file.isEmpty()) {
        Scene s;
        tn::ui::CLogViewer viewer(s.global, s.clock, &s.owner);
        viewer.show();
        QApplication::processEvents();
        emit viewer.chart()->clicked(13, QString(), 0.0); // the day of the big download
        viewer.chart()->setSelectedIndex(13);
        if (!viewer.grab().save(QString::fromLocal8Bit(file)))
            return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("PaintChart31", PaintChart31);
    benchmark::RegisterBenchmark("FillTableRules", FillTableRules);
    benchmark::RegisterBenchmark("FillTableOnClick", FillTableOnClick);
    benchmark::RegisterBenchmark("OpenViewer", OpenViewer);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
