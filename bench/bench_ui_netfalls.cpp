// The outage list with a long history: one load of a 100,000-record NetFalls.dat into the list,
// ready to paint (and once painted), and the export of the same rows.
#include "app/global.h"
#include "platform/paths.h"
#include "platform/platform_services.h"
#include "stats/outage_list.h"
#include "ui/dialogs/netfalls_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QTableView>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <random>

namespace {

constexpr int kRecords = 100000;

class BenchPaths final : public tn::IPaths {
public:
    std::filesystem::path root;
    std::filesystem::path dataDirectory() const override { return root; }
    std::filesystem::path configDirectory() const override { return root; }
    std::filesystem::path runtimeDirectory() const override { return root; }
    std::filesystem::path executablePath() const override { return {}; }
};

struct Setup {
    std::unique_ptr<tn::Platform> platform = tn::createPlatform();
    const tn::IClock& clock = *platform->services().clock;
    BenchPaths paths;
    std::unique_ptr<tn::CGlobal> global;

    Setup() {
        paths.root = std::filesystem::temp_directory_path() /
                     ("tallynet-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(paths.root);
        tn::PlatformServices os = platform->services();
        os.paths = &paths;
        os.settings = nullptr; // nothing of the user's is read or written
        os.autostart = nullptr;
        global = std::make_unique<tn::CGlobal>(os);
        // A flaky year: an outage every few minutes, of 20 s to 20 min.
        std::mt19937 rng(7);
        std::int64_t t = 1735689600; // 2025-01-01
        std::string bytes;
        bytes.reserve(kRecords * 16);
        for (int i = 0; i < kRecords; ++i) {
            t += 60 + static_cast<std::int64_t>(rng() % 600);
            const std::int64_t stop = t + 20 + static_cast<std::int64_t>(rng() % 1200);
            for (std::int64_t v : {t, stop})
                for (int b = 0; b < 8; ++b)
                    bytes += static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * b));
            t = stop;
        }
        std::ofstream(global->dataFile(tn::kOutageFileName), std::ios::binary) << bytes;
    }
    ~Setup() {
        std::error_code ec;
        std::filesystem::remove_all(paths.root, ec);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

void BM_LoadOutageList(benchmark::State& state) {
    Setup& s = setup();
    tn::ui::CNetFalls dlg(*s.global, s.clock);
    dlg.show();
    for (auto _ : state) {
        dlg.loadList();
        benchmark::DoNotOptimize(dlg.model().rowCount());
    }
    state.counters["rows"] = dlg.model().rowCount();
}

void BM_LoadAndPaintOutageList(benchmark::State& state) {
    Setup& s = setup();
    tn::ui::CNetFalls dlg(*s.global, s.clock);
    dlg.show();
    for (auto _ : state) {
        dlg.loadList();
        QPixmap shot = dlg.grab(); // lays out and paints the visible rows
        benchmark::DoNotOptimize(shot.cacheKey());
    }
}

void BM_ExportOutageList(benchmark::State& state) {
    Setup& s = setup();
    const QString out = QString::fromStdString((s.paths.root / "export.txt").string());
    tn::ui::NetFallsHooks hooks;
    hooks.chooseExportFile = [&] { return out; };
    hooks.openExported = [](const QString&) {};
    tn::ui::CNetFalls dlg(*s.global, s.clock, nullptr, hooks);
    for (auto _ : state)
        dlg.exportList();
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out.toStdString()));
}

} // namespace

BENCHMARK(BM_LoadOutageList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAndPaintOutageList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportOutageList)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
