// Cost of one tick of the main window with its widgets (offscreen), shown and hidden.
#include "app/global.h"
#include "no_tray_shell.h"
#include "support/fake_platform.h"
#include "ui/main/tallynet_dlg.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

void runTicks(benchmark::State& state, bool shown) {
    tn::test::FakePlatform fake;
    tn::test::FakeClock& clock = fake.clock;
    tn::CGlobal global(fake.services());
    global.loadSettings();
    tn::test::FakeInterfaceTable& table = fake.interfaces;
    table.set(1000, 1000, 100);
    tn::test::FakeStatisticsOwner stats;
    stats.adapters = {"eth0"};
    tn::ui::MainWindowServices services;
    services.global = &global;
    services.clock = &clock;
    services.interfaces = &table;
    services.stats = &stats;
    services.trayShell = std::make_unique<tn::bench::NoTray>();
    tn::ui::CTallynetDlg dlg(std::move(services));
    dlg.initDialog();
    if (!shown)
        dlg.hideWindow();
    for (auto _ : state) {
        table.rows[0].inOctets += 150000; // a busy download
        table.rows[0].outOctets += 9000;
        clock.advance(1);
        dlg.onTick();
        QCoreApplication::processEvents(); // the repaints the tick asked for
    }
    dlg.shutdown();
}

void BM_TickShown(benchmark::State& state) {
    runTicks(state, true);
}
void BM_TickHidden(benchmark::State& state) {
    runTicks(state, false);
}
BENCHMARK(BM_TickShown);
BENCHMARK(BM_TickHidden);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
