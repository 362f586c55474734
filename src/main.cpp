// CTallynetApp: the Qt entry point, the start-up order and the single running copy.
#include "app/global.h"
#include "orchestration/ip_stat_owner.h"
#include "platform/instance_lock.h"
#include "platform/platform_services.h"
#include "platform/session_events.h"
#include "stats/report.h"
#include "ui/main/emergency_exit.h"
#include "ui/main/tallynet_dlg.h"

#include <QApplication>
#include <QDateTime>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tn {

class CTallynetApp {
public:
    int run(int argc, char* argv[]);
};

namespace {

bool haveDisplay() {
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* v = std::getenv(var); v && *v)
            return true;
    return false;
}

constexpr const char* kUsage =
    "Usage: tallynet [--report [--json] [--hours]] [--help] [--version]\n"
    "\n"
    "Without options Tallynet opens its window (it needs a desktop session).\n"
    "\n"
    "  --report    print today's and this month's traffic per category, the days of\n"
    "              this month and the last twelve months, from the saved history;\n"
    "              needs no display and changes nothing\n"
    "  --json      with --report: the same as JSON, with exact byte counts\n"
    "  --hours     with --report: the last 48 hours too, from hours.dat\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

enum class Mode { Window, Report, Help, Version, Bad };

// The terminal options are looked at before anything else: none of them needs a display, the
// instance lock or the settings. Other arguments stay for the toolkit.
Mode parseMode(int argc, char* argv[], ReportOptions& options, std::string& bad) {
    bool& json = options.json;
    bool report = false;
    Mode mode = Mode::Window;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0)
            mode = Mode::Help;
        else if (std::strcmp(a, "--version") == 0)
            mode = mode == Mode::Help ? mode : Mode::Version;
        else if (std::strcmp(a, "--report") == 0)
            report = true;
        else if (std::strcmp(a, "--json") == 0)
            json = true;
        else if (std::strcmp(a, "--hours") == 0)
            options.hours = true;
        else if (a[0] == '-' && a[1] == '-' && (report || json))
            bad = a;
    }
    if (mode != Mode::Window)
        return mode;
    if (!bad.empty())
        return Mode::Bad;
    if ((json || options.hours) && !report) {
        bad = json ? "--json" : "--hours";
        return Mode::Bad;
    }
    return report ? Mode::Report : Mode::Window;
}

int terminalMode(Mode mode, const ReportOptions& options, const std::string& bad) {
    const std::string version = CGlobal::programVersionText();
    switch (mode) {
    case Mode::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case Mode::Version:
        std::printf("Tallynet %s\n", version.c_str());
        return 0;
    case Mode::Bad:
        std::fprintf(stderr,
                     "tallynet: %s is not understood here (--json and --hours go with "
                     "--report)\n\n%s",
                     bad.c_str(), kUsage);
        return 2;
    default: {
        const auto platform = createReadOnlyPlatform();
        std::string out, err;
        const int code = runReport(platform->services(), options, version, out, err);
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return code;
    }
    }
}

} // namespace

int CTallynetApp::run(int argc, char* argv[]) {
    ReportOptions options;
    std::string bad;
    if (const Mode mode = parseMode(argc, argv, options, bad); mode != Mode::Window)
        return terminalMode(mode, options, bad);
    if (!haveDisplay()) {
        // Without this the toolkit aborts with a core dump and a less helpful text.
        std::fputs("Tallynet is a desktop program and no display was found (DISPLAY and "
                   "WAYLAND_DISPLAY are empty).\nStart it from your desktop session, or on a "
                   "virtual display: Xvfb :99 & DISPLAY=:99 tallynet\n",
                   stderr);
        return 1;
    }
    auto platform = createPlatform();
    const PlatformServices os = platform->services();
    // One copy per session: a second one ends here, silently and successfully, before it reads
    // or writes anything of the first one's.
    if (os.instanceLock && !os.instanceLock->tryAcquire())
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName("Tallynet");
    QApplication::setQuitOnLastWindowClosed(false); // the window hides to the tray

    CGlobal global(os, [](const std::string& text, MessageIcon icon) {
        const QMessageBox::Icon kind = icon == MessageIcon::Stop          ? QMessageBox::Critical
                                       : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                       : icon == MessageIcon::Information ? QMessageBox::Information
                                                                          : QMessageBox::NoIcon;
        QMessageBox box(kind, "Tallynet", QString::fromStdString(text));
        box.exec();
    });
    global.loadSettings();
    global.refreshRunAtStartUp();

    std::unique_ptr<IStatisticsOwner> stats = makeStatisticsOwner(global, *os.clock);
    ui::MainWindowServices services;
    services.global = &global;
    services.clock = os.clock;
    services.interfaces = os.interfaces;
    services.stats = stats.get();
    services.icmp = os.icmp;
    services.networkSettings = os.networkSettings;
    services.notifier = os.notifier;
    ui::CTallynetDlg dlg(std::move(services));

    if (std::getenv("TALLYNET_TRACE_STARTUP")) {
        QObject::connect(&dlg, &ui::CTallynetDlg::firstPaint, [] {
            std::fprintf(stderr, "tallynet: first paint at %lld ms\n",
                         static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        });
    }
    QObject::connect(&dlg, &QDialog::finished, &app, &QCoreApplication::quit);
    // Requests from the system arrive on a thread of the platform's; the window acts on them on
    // its own thread.
    if (os.termination)
        os.termination->start([&dlg](int) {
            QMetaObject::invokeMethod(
                &dlg, [&dlg] { dlg.endDialog(); }, Qt::QueuedConnection);
        });
    if (os.sleep)
        os.sleep->start([&dlg](bool sleeping) {
            QMetaObject::invokeMethod(
                &dlg, [&dlg, sleeping] { dlg.onSleepChange(sleeping); }, Qt::QueuedConnection);
        });
    // The desktop session is ending: save now, the end itself follows as a signal or as the
    // loss of the display.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &dlg,
                     [&stats](QSessionManager&) { stats->save(); });
    ui::setEmergencyExitHook([&stats] { stats->stopAndSave(); });

    dlg.initDialog();
    app.exec();
    if (os.sleep)
        os.sleep->stop();
    dlg.shutdown();
    if (os.termination)
        os.termination->stop();
    ui::clearEmergencyExitHook();
    return 0;
}

} // namespace tn

int main(int argc, char* argv[]) {
    return tn::CTallynetApp().run(argc, argv);
}
