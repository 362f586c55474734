// What the main window paints while it runs, counted rather than timed (other work on the
// machine does not change the figures): paint events and repainted pixels per control, and the
// layout requests, over N seconds of busy traffic with the fake clock. Every timer is parked;
// the program itself runs the graph's ten frames and the tick of each second, so the counts
// are the same on every run.
//
// Usage: bench_ui_paint_census [seconds] [shown|hidden]
// Under callgrind the instructions of the N seconds alone are counted (the start is not):
//   valgrind --tool=callgrind --collect-atstart=no bench_ui_paint_census 10
#include "app/global.h"
#include "no_tray_shell.h"
#include "support/fake_platform.h"
#include "ui/main/tallynet_dlg.h"

#include <QApplication>
#include <QMap>
#include <QPaintEvent>
#include <QTimer>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else // without valgrind's headers the counts are all it gives
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_TOGGLE_COLLECT
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Count {
    long events = 0;
    long long pixels = 0;
};

class Census final : public QObject {
public:
    bool counting = false;
    QMap<QString, Count> paints;
    long layoutRequests = 0;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Timer && qobject_cast<QTimer*>(o))
            return true; // parked: the loop below runs what the timers would
        if (!counting || !o->isWidgetType())
            return false;
        if (e->type() == QEvent::LayoutRequest)
            ++layoutRequests;
        if (e->type() == QEvent::Paint) {
            const QString name = o->objectName().isEmpty()
                                     ? QString::fromLatin1(o->metaObject()->className())
                                     : o->objectName() + " " + o->metaObject()->className();
            Count& c = paints[name];
            ++c.events;
            for (const QRect& r : static_cast<QPaintEvent*>(e)->region())
                c.pixels += static_cast<long long>(r.width()) * r.height();
        }
        return false;
    }
};

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const bool hidden = argc > 2 && std::strcmp(argv[2], "hidden") == 0;

    Census census;
    app.installEventFilter(&census);

    tn::test::FakePlatform fake;
    tn::CGlobal global(fake.services());
    global.loadSettings();
    tn::test::FakeInterfaceTable& table = fake.interfaces;
    table.set(1000, 1000, 100);
    tn::test::FakeStatisticsOwner stats;
    stats.adapters = {"eth0"};
    tn::ui::MainWindowServices services;
    services.global = &global;
    services.clock = &fake.clock;
    services.interfaces = &table;
    services.stats = &stats;
    services.trayShell = std::make_unique<tn::bench::NoTray>();
    tn::ui::CTallynetDlg dlg(std::move(services));
    dlg.initDialog();
    if (hidden)
        dlg.hideWindow();
    settle();

    auto* graph = dlg.graph();
    census.counting = true;
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    for (int s = 0; s < seconds; ++s) {
        // A busy but uneven download: most texts change every second.
        table.rows[0].inOctets += 150000 + 7919u * static_cast<unsigned>(s % 13);
        table.rows[0].outOctets += 9000 + 331u * static_cast<unsigned>(s % 7);
        fake.clock.advance(1);
        graph->sampleTick();
        dlg.onTick();
        settle();
        for (int f = 0; f < 10; ++f) {
            // The repaint timer's work; a build without frame requests repaints it whole.
            if (!QMetaObject::invokeMethod(graph, "requestFrame"))
                graph->update();
            settle();
        }
    }
    CALLGRIND_TOGGLE_COLLECT;
    census.counting = false;

    long events = 0;
    long long pixels = 0;
    std::printf("%d s %s: paint events and repainted pixels per control\n", seconds,
                hidden ? "hidden" : "shown");
    for (auto it = census.paints.cbegin(); it != census.paints.cend(); ++it) {
        std::printf("  %-40s %6ld %10lld\n", qPrintable(it.key()), it->events, it->pixels);
        events += it->events;
        pixels += it->pixels;
    }
    std::printf("  %-40s %6ld %10lld\n", "all", events, pixels);
    std::printf("  layout requests %ld\n", census.layoutRequests);
    dlg.shutdown();
    return 0;
}
