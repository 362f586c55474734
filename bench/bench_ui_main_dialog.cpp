// Cost of one tick of the main window with its widgets (offscreen), shown and hidden.
#include "../tests/support/fake_clock.h"
#include "app/global.h"
#include "app/statistics_owner.h"
#include "platform/clock.h"
#include "platform/interface_table.h"
#include "ui/main/tallynet_dlg.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

class Table final : public tn::IInterfaceTable {
public:
    std::vector<tn::InterfaceRow> rows{{"eth0", 1000, 1000, 100}};
    bool refresh(std::vector<tn::InterfaceRow>& out) override {
        rows[0].inOctets += 150000; // a busy download
        rows[0].outOctets += 9000;
        out = rows;
        return true;
    }
    int countAdapters() override { return 1; }
};

class Stats final : public tn::IStatisticsOwner {
public:
    std::uint64_t totalReceived() const override { return 0; }
    std::uint64_t totalSent() const override { return 0; }
    void setLanOnly(int) override {}
    void save() override {}
    int initialise(int) override { return 1; }
    std::string lastErrorText() const override { return {}; }
    void stopCapture() override {}
    void stopAndSave() override {}
    int adapterCount() const override { return 1; }
    std::string adapterDescription(int) const override { return "eth0"; }
    int selectedIndex() const override { return 0; }
    std::string selectedAdapterName() const override { return "eth0"; }
    tn::StatRecords records() const override { return {}; }
};

class NoTray final : public tn::ui::ITrayShell {
public:
    bool available() const override { return true; }
    bool add(int, const QString&) override { return true; }
    bool modifyIcon(int) override { return true; }
    bool modifyTooltip(const QString&) override { return true; }
    bool remove() override { return true; }
    QRect iconGeometry() const override { return {}; }
};

void runTicks(benchmark::State& state, bool shown) {
    tn::test::FakeClock clock;
    tn::PlatformServices os;
    os.clock = &clock;
    tn::CGlobal global(os);
    global.loadSettings();
    Table table;
    Stats stats;
    tn::ui::MainWindowServices services;
    services.global = &global;
    services.clock = &clock;
    services.interfaces = &table;
    services.stats = &stats;
    services.trayShell = std::make_unique<NoTray>();
    tn::ui::CTallynetDlg dlg(std::move(services));
    dlg.initDialog();
    if (!shown)
        dlg.hideWindow();
    for (auto _ : state) {
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
