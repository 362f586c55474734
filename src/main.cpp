// CTallynetApp: the Qt entry point, the start-up order and the single running copy.
#include "app/command_line.h"
#include "app/global.h"
#include "orchestration/ip_stat_owner.h"
#include "platform/instance_activation.h"
#include "platform/instance_lock.h"
#include "platform/platform_services.h"
#include "platform/session_events.h"
#include "stats/apps_report.h"
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
#include <vector>

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
    "Usage: tallynet [--report [--json] [--hours | --apps]] [--help] [--version]\n"
    "\n"
    "Without options Tallynet opens its window (it needs a desktop session).\n"
    "\n"
    "  --report    print today's and this month's traffic per category, the days of\n"
    "              this month and the last twelve months, from the saved history;\n"
    "              needs no display and changes nothing\n"
    "  --apps      with --report: today's and this month's traffic per program\n"
    "  --json      with --report: the same as JSON, with exact byte counts\n"
    "  --hours     with --report: the last 48 hours too, from hours.dat\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

int terminalMode(const CommandLine& line) {
    const std::string version = CGlobal::programVersionText();
    switch (line.mode) {
    case CommandLine::Mode::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case CommandLine::Mode::Version:
        std::printf("Tallynet %s\n", version.c_str());
        return 0;
    case CommandLine::Mode::Bad:
        std::fputs(commandLineProblem(line).c_str(), stderr);
        return 2;
    default: {
        const auto platform = createReadOnlyPlatform();
        std::string out, err;
        ReportOptions options;
        options.json = line.json;
        options.hours = line.hours;
        const int code = line.apps
                             ? runAppsReport(platform->services(), line.json, version, out, err)
                             : runReport(platform->services(), options, version, out, err);
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return code;
    }
    }
}

} // namespace

int CTallynetApp::run(int argc, char* argv[]) {
    if (const CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        line.mode != CommandLine::Mode::Window)
        return terminalMode(line);
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
    // One copy per session: a second one ends here, successfully, before it reads or writes
    // anything of the first one's; it only asks the first to show its window, which the user
    // started the program to see.
    if (os.instanceLock && !os.instanceLock->tryAcquire()) {
        if (os.activation)
            os.activation->requestShow();
        return 0;
    }

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
    const bool trace = std::getenv("TALLYNET_TRACE_STARTUP") != nullptr;
    if (os.activation)
        os.activation->listen([&dlg, trace] {
            QMetaObject::invokeMethod(
                &dlg,
                [&dlg, trace] {
                    dlg.showFromElsewhere();
                    if (trace)
                        std::fprintf(stderr, "tallynet: shown for a later start, visible %d\n",
                                     dlg.isVisible() && !dlg.isMinimized() ? 1 : 0);
                },
                Qt::QueuedConnection);
        });
    if (os.sleep)
        os.sleep->start([&dlg](bool sleeping) {
            QMetaObject::invokeMethod(
                &dlg, [&dlg, sleeping] { dlg.onSleepChange(sleeping); }, Qt::QueuedConnection);
        });
    if (os.screenLock)
        os.screenLock->start([&dlg](bool locked) {
            QMetaObject::invokeMethod(
                &dlg, [&dlg, locked] { dlg.onScreenLock(locked); }, Qt::QueuedConnection);
        });
    // The desktop session is ending: save now, the end itself follows as a signal or as the
    // loss of the display.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &dlg,
                     [&stats](QSessionManager&) { stats->save(); });
    ui::setEmergencyExitHook([&stats] { stats->stopAndSave(); });

    dlg.initDialog();
    app.exec();
    if (os.activation)
        os.activation->stop();
    if (os.sleep)
        os.sleep->stop();
    if (os.screenLock)
        os.screenLock->stop();
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
