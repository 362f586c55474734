#include "ui/main/tallynet_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "app/help_about.h"
#include "capture/connection_follower.h"
#include "orchestration/statistics_owner.h"
#include "platform/capture_device.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/session_events.h"
#include "ui/dialogs/about_dlg.h"
#include "ui/dialogs/apps_dlg.h"
#include "ui/dialogs/data_plan_dlg.h"
#include "ui/dialogs/help_dlg.h"
#include "ui/dialogs/log_viewer.h"
#include "ui/dialogs/options_dlg.h"
#include "ui/widgets/accessibility.h"
#include "ui/widgets/adapter_combo.h"
#include "ui/widgets/artwork.h"
#include "ui/widgets/control_table.h"
#include "ui/widgets/flat_button.h"
#include "ui/widgets/picture_ctrl.h"
#include "ui/widgets/plain_label.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/speed_bar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QMessageBox>
#include <QScreen>
#include <QSignalBlocker>

namespace tn::ui {

namespace {

std::uint32_t barMaximum(std::uint32_t conSpeed) {
    return (conSpeed << 10) >> 3;
}

} // namespace

CTallynetDlg::CTallynetDlg(MainWindowServices services, QWidget* parent)
    : CBitmapDlg(parent), m_global(*services.global), m_clock(*services.clock),
      m_stats(*services.stats), m_networkSettings(services.networkSettings),
      m_counters(services.interfaces) {
    if (!services.trayShell) {
        auto shell = std::make_unique<QtTrayShell>();
        connect(shell.get(), &QtTrayShell::leftClicked, this,
                [this] { onTrayClicked(cursorPos ? cursorPos() : QCursor::pos()); });
        services.trayShell = std::move(shell);
    }
    m_tray = std::make_unique<CSystemTray>(std::move(services.trayShell));
    buildTrayMenu();
    m_sampler = std::make_unique<CTickSampler>(m_global, m_clock, m_counters, m_stats, this);
    // The data plan's line under the tooltip's traffic, and its notices.
    m_planWatch = std::make_unique<CDataPlanWatch>(m_global, m_clock);
    m_sampler->setTooltipLine([this] { return m_planWatch->step(m_stats.records()); });
    m_detector = std::make_unique<COutageDetector>(m_global, m_clock, *this);
    m_notices = std::make_unique<CNotices>(m_global, m_clock, services.notifier);
    m_detector->setNotices(m_notices.get());
    if (services.notifier)
        m_planWatch->setNotify([this](const std::string& summary, const std::string& body) {
            m_notices->plan(summary, body);
        });
    m_probe = std::make_unique<CProbe>(services.icmp, m_clock);
    m_timer.setInterval(kTimerPeriodMs);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CTallynetDlg::onTick);
    buildControls();
    // Failed saves and files set aside are told over this window, never blocking the tick.
    m_global.fileFailures().setShow([this](const std::string& text) { showFileError(text); });
}

CTallynetDlg::~CTallynetDlg() {
    shutdown();
    m_global.fileFailures().setShow({});
}

namespace {

using namespace tn::ids::main_dlg;
using K = ControlKind;

// The main window in dialog units, in creation order (which is also the tab order).
constexpr ControlSpec kMainControls[] = {
    {kAdapterCombo, K::Combo, "", 4, 3, 196, 12, "Network adapter"},
    {kRemember, K::Button, " ", 202, 3, 13, 12, "Remember this adapter"},
    {kStatusPicture, K::Picture, "", 264, 2, 32, 30, "Open network settings"},
    {kStatusText, K::Label, "...", 262, 33, 36, 9, "Connection status"},

    {kDownloadGroup, K::Group, "Download", 4, 16, 84, 28},
    {0, K::Label, "Speed :", 9, 26, 28, 8},
    {kReceivedSpeed, K::Label, "0 kb/s", 37, 26, 50, 8, "Download speed", 0x00FF00},
    {kReceivedBar, K::SpeedBar, "", 9, 36, 74, 5, "Download speed bar", 0x00C800},
    {kUploadGroup, K::Group, "Upload", 90, 16, 84, 28},
    {0, K::Label, "Speed :", 95, 26, 28, 8},
    {kSentSpeed, K::Label, "0 kb/s", 123, 26, 50, 8, "Upload speed", 0xFF0000},
    {kSentBar, K::SpeedBar, "", 95, 36, 74, 5, "Upload speed bar", 0xC80000},
    {kTotalSpeedGroup, K::Group, "Total Speed", 176, 16, 84, 28},
    {0, K::Label, "Speed :", 181, 26, 28, 8},
    {kTotalSpeed, K::Label, "0 kb/s", 209, 26, 50, 8, "Total speed", 0x000000},

    {kAverageGroup, K::Group, "Average Speeds (from program startup till current time)", 4, 45, 146,
     37},
    {kPeriodGroup, K::Group, "Traffic during last :", 152, 45, 146, 37},
    {0, K::Label, "Dl :", 9, 55, 24, 8},
    {kAverageReceived, K::Label, "0 kb/s", 36, 55, 110, 8, "Average download speed"},
    {0, K::Label, "Dl :", 157, 55, 24, 8},
    {kPeriodReceived, K::Label, "0 kb", 184, 55, 110, 8, "Downloaded during the period"},
    {0, K::Label, "Ul :", 9, 63, 24, 8},
    {kAverageSent, K::Label, "0 kb/s", 36, 63, 110, 8, "Average upload speed"},
    {0, K::Label, "Ul :", 157, 63, 24, 8},
    {kPeriodSent, K::Label, "0 kb", 184, 63, 110, 8, "Uploaded during the period"},
    {0, K::Label, "Total :", 9, 71, 24, 8},
    {kAverageTotal, K::Label, "0 kb/s", 36, 71, 110, 8, "Average total speed"},
    {0, K::Label, "Total :", 157, 71, 24, 8},
    {kPeriodTotal, K::Label, "0 kb", 184, 71, 110, 8, "Traffic during the period"},

    {kGeneralGroup, K::Group, "General", 4, 83, 294, 27},
    {0, K::Label, "Total Download :", 9, 93, 62, 8},
    {kTotalDownload, K::Label, "0 kb/s", 72, 93, 76, 8, "Total Download", 0xFFFF00},
    {0, K::Label, "Total Upload :", 9, 101, 62, 8},
    {kTotalUpload, K::Label, "0 kb/s", 72, 101, 76, 8, "Total Upload"},
    {0, K::Label, "Total General :", 157, 93, 60, 8},
    {kTotalGeneral, K::Label, "0 kb/s", 218, 93, 76, 8, "Total General"},
    {0, K::Label, "Duration :", 157, 101, 60, 8},
    {kDuration, K::Label, "00:00:00:00", 218, 101, 76, 8, "Connection duration", 0xFFFFFF},

    {kGraph, K::Custom, "", 4, 112, 294, 41, "Traffic graph"},

    {kViewLog, K::Button, "View Log", 4, 156, 46, 14},
    {kOptions, K::Button, "Options", 53, 156, 46, 14},
    {kHelp, K::Button, "Help", 102, 156, 46, 14},
    {kAbout, K::Button, "About", 151, 156, 46, 14},
    {kHide, K::Button, "Hide", 200, 156, 46, 14},
    {kExit, K::Button, "Exit", 249, 156, 46, 14},
};

} // namespace

void CTallynetDlg::buildControls() {
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, QColor(236, 240, 245)); // the default text colour
    setPalette(pal);
    setDialogUnitSize(302, 174);

    ControlTableContext context;
    context.parent = this;
    context.rect = [this](const ControlSpec& c) { return dialogRect(c.x, c.y, c.cx, c.cy); };
    context.custom = [this](const ControlSpec&) -> QWidget* {
        return new GraphControl(m_global, this);
    };
    m_controls = ui::buildControls(kMainControls, context);

    m_combo = static_cast<CAdapterCombo*>(control(kAdapterCombo));
    m_picture = static_cast<CPictureCtrl*>(control(kStatusPicture));
    m_rxBar = static_cast<CSpeedBar*>(control(kReceivedBar));
    m_txBar = static_cast<CSpeedBar*>(control(kSentBar));
    m_graph = static_cast<GraphControl*>(control(kGraph));
    m_graph->attach();
    // The tick rewrites these texts; a label of fixed size asks the dialog for no new layout
    // when its text changes.
    for (QWidget* w : std::as_const(m_controls))
        if (qobject_cast<QLabel*>(w))
            w->setFixedSize(w->size());
    static_cast<QLabel*>(control(kStatusText))->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_picture->setPictureId(131);

    auto* remember = button(kRemember);
    remember->setIcon(art::rememberIcon());
    remember->setToolTip("Remember this adapter");
    button(kExit)->setDefault(true);

    connect(m_combo, &QComboBox::activated, this, [this](int) { adapterSelectionChange(true); });
    connect(remember, &QPushButton::clicked, this, &CTallynetDlg::onRemember);
    // A double click follows a click that has already opened the same settings window.
    connect(m_picture, &CPictureCtrl::clicked, this, &CTallynetDlg::openNetworkSettings);
    connect(button(kExit), &QPushButton::clicked, this, &CTallynetDlg::onExit);
    connect(button(kHide), &QPushButton::clicked, this, &CTallynetDlg::hideWindow);
    connect(button(kViewLog), &QPushButton::clicked, this, &CTallynetDlg::onViewLog);
    connect(button(kOptions), &QPushButton::clicked, this, &CTallynetDlg::onOptions);
    connect(button(kHelp), &QPushButton::clicked, this, &CTallynetDlg::onHelp);
    connect(button(kAbout), &QPushButton::clicked, this, &CTallynetDlg::onAbout);
}

void CTallynetDlg::buildTrayMenu() {
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName("trayMenu");
    m_trayMenu->setAccessibleName("Tallynet");
    m_trayShowHide = m_trayMenu->addAction("Hide", this, &CTallynetDlg::toggleFromTray);
    m_trayViewLog = m_trayMenu->addAction("View Log", this, [this] {
        showWindow(); // the viewer opens over its main window
        onViewLog();
    });
    m_trayApps = m_trayMenu->addAction("Applications", this, [this] {
        showWindow();
        onApplications();
    });
    m_trayOptions = m_trayMenu->addAction("Options", this, [this] {
        showWindow();
        onOptions();
    });
    m_trayDataPlan = m_trayMenu->addAction("Data plan", this, [this] {
        showWindow();
        CDataPlanDlg plan(m_global, m_clock, &m_stats, this);
        plan.exec();
    });
    // Desktop notices of outages: off unless asked for, stored the moment it changes.
    m_trayOutageNotices = m_trayMenu->addAction("Outage notices");
    m_trayOutageNotices->setCheckable(true);
    m_trayOutageNotices->setChecked(m_global.NotifyFalls != 0);
    connect(m_trayOutageNotices, &QAction::toggled, this, [this](bool on) {
        m_global.NotifyFalls = on ? 1 : 0;
        m_global.writeInt("NotifyFalls", m_global.NotifyFalls);
    });
    m_trayMenu->addSeparator();
    m_trayExit = m_trayMenu->addAction("Exit", this, &CTallynetDlg::onExit);
    connect(m_trayMenu, &QMenu::aboutToShow, this, &CTallynetDlg::updateTrayMenu);
    updateTrayMenu();
    m_tray->shell().setContextMenu(m_trayMenu);
}

void CTallynetDlg::updateTrayMenu() {
    const bool shown = isVisible() && !isMinimized();
    m_trayShowHide->setText(shown ? "Hide" : "Show");
    // While a window of ours waits for an answer, no second options window or viewer opens
    // over it and the program does not end under it.
    const bool free = QApplication::activeModalWidget() == nullptr && !m_ending;
    m_trayViewLog->setEnabled(free);
    m_trayApps->setEnabled(free);
    m_trayOptions->setEnabled(free);
    m_trayDataPlan->setEnabled(free);
    m_trayExit->setEnabled(free);
}

void CTallynetDlg::showFromElsewhere() {
    if (m_ending)
        return;
    m_startHidden = false;
    showWindow();
}

void CTallynetDlg::toggleFromTray() {
    m_startHidden = false;
    if (isVisible() && !isMinimized())
        hideWindow();
    else
        showWindow();
}

QPushButton* CTallynetDlg::button(int id) const {
    return static_cast<QPushButton*>(control(id));
}

// The commands of the four buttons that open secondary windows.
void CTallynetDlg::onViewLog() {
    if (m_viewer || m_ending)
        return;
    CLogViewer viewer(m_global, m_clock, &m_stats, this);
    m_viewer = &viewer;
    viewer.exec(); // the tick goes on underneath
}

void CTallynetDlg::onApplications() {
    if (m_apps || m_ending)
        return;
    CAppsDlg apps(m_clock, &m_stats, {}, this);
    m_apps = &apps;
    apps.exec(); // the tick goes on underneath
}

void CTallynetDlg::onOptions() {
    const std::uint32_t conSpeed = m_global.ConSpeed;
    {
        COptions options({&m_global, &m_clock, &m_stats, m_probe.get()}, this);
        options.exec();
    }
    // The speed bars take the new range on the next tick; the graph is rescaled now.
    if (m_global.ConSpeed != conSpeed)
        m_graph->setFixedMaximum(static_cast<double>(barMaximum(m_global.ConSpeed)));
}

void CTallynetDlg::onHelp() {
    const IPaths* paths = m_global.os().paths;
    CHelp help(helpFileCandidates(paths ? paths->executablePath() : std::filesystem::path{},
                                  TALLYNET_INSTALLED_DATA_DIR),
               m_global.os().files, this);
    help.exec();
}

void CTallynetDlg::onAbout() {
    const ICaptureFactory* capture = m_global.os().capture;
    CAboutDlg about(
        QString::fromStdString(aboutText(CGlobal::programVersionText(),
                                         capture ? capture->libraryVersion() : std::string())),
        this);
    about.exec();
}

void CTallynetDlg::initDialog() {
    setWindowTitle(QString("Tallynet ver ") +
                   QString::fromStdString(CGlobal::programVersionText()));
    setWindowIcon(art::appIcon());
    m_startHidden = m_global.StartMin != 0;
    m_tray->create(QString(), kTrayIdle, kTrayUid);
    m_rxBar->setRange(barMaximum(m_global.ConSpeed));
    m_txBar->setRange(barMaximum(m_global.ConSpeed));
    restorePosition();
    m_openAfterPaint = true;
    loadAdapterList();
    m_openAfterPaint = false;
    m_graph->setTimerPeriods(1000, 100);
    m_graph->setScalingMode(m_global.TMaxScale);
    m_graph->restorePinPoint(m_global.PinPoint);
    m_graph->setFixedMaximum(static_cast<double>(barMaximum(m_global.ConSpeed)));
    m_sampler->start();
    m_timer.start();

    m_initialised = true;

    if (!m_startHidden)
        show();
    else if (!m_tray->areaAvailable() || m_tray->isHidden())
        showMinimized(); // no notification area to come back from
    if (m_startHidden)
        openPendingAdapter(); // no paint to wait for
}

void CTallynetDlg::openPendingAdapter() {
    if (m_pendingOpen >= 0 && !m_shutDown)
        initialiseAdapter(std::exchange(m_pendingOpen, -1), false);
}

void CTallynetDlg::onScreenLock(bool locked) {
    if (locked == m_screenLocked)
        return;
    m_screenLocked = locked;
    m_graph->setOffScreen(locked);
    if (locked)
        return;
    // The last second at once, in the window and the tray.
    if (m_shownView) {
        m_tray->setIcon(m_shownView->trayIcon);
        m_tray->setTooltipText(QString::fromStdString(m_shownView->tooltip));
    }
    if (isVisible())
        applyShownView();
}

void CTallynetDlg::onSleepChange(bool sleeping) {
    if (sleeping)
        m_stats.save(); // a machine that never wakes up keeps the last minute too
    else
        onResume();
}

void CTallynetDlg::shutdown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_initialised) {
        storePosition();
        m_timer.stop();
        m_stats.stopAndSave();
        m_sampler->logFinalDrops(); // the capture's last statistics are in now
    }
    m_tray->removeIcon();
}

void CTallynetDlg::endDialog() {
    m_ending = true;
    if (m_viewer)
        m_viewer->reject(); // its modal loop must not outlive the program
    if (m_apps)
        m_apps->reject();
    done(QDialog::Accepted);
}

void CTallynetDlg::outageStep(std::uint64_t incoming) {
    m_detector->step(incoming, m_sampler->adapterCount());
}

void CTallynetDlg::probeStep() {
    probeSchedulerStep(m_global, m_clock, *m_probe);
}

void CTallynetDlg::setStatusPicture(int bitmapId) {
    m_picture->setPictureId(bitmapId);
}

void CTallynetDlg::setStatusText(const std::string& text) {
    setText(ids::main_dlg::kStatusText, QString::fromStdString(text));
}

void CTallynetDlg::showFileError(const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::Warning, "Tallynet", QString::fromStdString(text),
                                QMessageBox::Ok, this);
    box->setObjectName("fileError");
    box->setAttribute(Qt::WA_DeleteOnClose);
    openOverWindow(box);
}

void CTallynetDlg::openOverWindow(QMessageBox* box) {
    if (isVisible())
        box->open();
    else
        m_pendingBoxes.append(box);
}

void CTallynetDlg::showEvent(QShowEvent* event) {
    CBitmapDlg::showEvent(event);
    applyShownView();
    updateTrayMenu();
    if (m_pendingBoxes.isEmpty())
        return;
    // After the show has placed the window, so that each box is centred over it.
    QTimer::singleShot(0, this, [this] {
        const auto boxes = std::exchange(m_pendingBoxes, {});
        for (const QPointer<QMessageBox>& box : boxes)
            if (box)
                box->open();
    });
}

void CTallynetDlg::onTick() {
    TickView v = m_sampler->tick();
    if (v.adapterSetChanged && m_sampler->adapterCount() != 0 && m_stats.refreshAdapterList()) {
        // Interfaces came or went elsewhere: the list is renewed and the capture of the watched
        // adapter goes on, so no traffic is lost and this tick is shown as usual.
        fillAdapterCombo();
        v = m_sampler->tick();
    }
    if (v.adapterSetChanged) {
        if (v.adapterCountWasNonZero)
            m_stats.stopCapture();
        loadAdapterList();
        showIdleState();
        return;
    }
    // After this second was read from the old adapter, so the switch loses none of it.
    followConnection();
    if (!m_screenLocked) {
        m_tray->setIcon(v.trayIcon);
        m_tray->setTooltipText(QString::fromStdString(v.tooltip));
    }
    m_graph->setCurrentIncoming(v.receivedSpeed);
    m_graph->setCurrentOutgoing(v.sentSpeed);
    m_shownView = std::move(v);
    if (isVisible() && !m_screenLocked)
        applyShownView(); // a hidden window gets the last view when it shows again
    if (++m_tickCount % 5 == 0)
        m_tray->checkNotificationArea();
}

void CTallynetDlg::applyShownView() {
    if (!m_shownView)
        return;
    const TickView v = *std::exchange(m_shownView, std::nullopt);
    m_graph->requestFrame();
    m_rxBar->setRange(v.barMaximum);
    m_txBar->setRange(v.barMaximum);
    m_rxBar->setPosition(v.receivedSpeed);
    m_txBar->setPosition(v.sentSpeed);
    for (const auto& [id, text] : v.texts)
        setText(id, QString::fromStdString(text));
}

void CTallynetDlg::setText(int id, const QString& text) {
    QWidget* w = control(id);
    if (auto* l = qobject_cast<QLabel*>(w))
        setShownText(l, text);
    else if (auto* g = qobject_cast<CGroupFrame*>(w))
        g->setTitle(text);
}

void CTallynetDlg::showIdleState() {
    m_tray->setIcon(kTrayIdle);
    m_detector->reset(); // picture 131 and "..." again
}

void CTallynetDlg::loadAdapterList() {
    m_sampler->setAdapterCount(0);
    m_stats.initialise(-1);
    const int count = m_stats.adapterCount();
    m_sampler->setAdapterCount(count);

    const QSignalBlocker block(m_combo);
    m_combo->clear();
    m_autoOffset = 0;
    if (count == 0) {
        m_following = false;
        m_combo->addItem(kNoAdapters);
        m_combo->setCurrentIndex(0);
        adapterSelectionChange(false);
        return;
    }
    for (int i = 0; i < count; ++i)
        m_combo->addItem(QString::fromStdString(m_stats.adapterDescription(i)));
    addAutomaticEntry();
    const int selected = m_stats.selectedIndex();
    m_combo->setCurrentIndex(selected >= 0 && selected < count ? selected + m_autoOffset : 0);

    // "Automatic" when remembered, and on a first start (nothing remembered) where offered.
    if (m_autoOffset != 0 && (m_global.LastAdapterName == CConnectionFollower::kSetting ||
                              m_global.LastAdapterName.empty())) {
        if (!m_global.LastAdapterName.empty())
            m_combo->setRemembered(0, true);
        m_combo->setCurrentIndex(0);
        m_sampler->setAdapterName("");
        adapterSelectionChange(false);
        return;
    }
    const int remembered = m_combo->findText(QString::fromStdString(m_global.LastAdapterName),
                                             Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (remembered < 0) {
        m_sampler->setAdapterName("");
        adapterSelectionChange(false);
        return;
    }
    m_following = false;
    m_combo->setCurrentIndex(remembered);
    m_combo->setRemembered(remembered, true);
    m_sampler->setAdapterName(m_global.LastAdapterName);
    m_stats.stopCapture();
    initialiseAdapter(remembered - m_autoOffset, false);
}

void CTallynetDlg::addAutomaticEntry() {
    m_autoOffset = 0;
    if (!m_stats.canFollowDefaultRoute() || m_stats.adapterCount() == 0)
        return;
    const int t = followedAdapter();
    m_combo->insertItem(0, QString::fromStdString(CConnectionFollower::automaticText(
                               t >= 0 ? m_stats.adapterDescription(t) : std::string{})));
    m_autoOffset = 1;
}

int CTallynetDlg::followedAdapter() const {
    std::vector<std::string> names;
    for (int i = 0; i < m_stats.adapterCount(); ++i)
        names.push_back(m_stats.adapterName(i));
    return CConnectionFollower::target(m_stats.defaultRouteInterface(), names);
}

void CTallynetDlg::followConnection() {
    if (!m_following || m_autoOffset == 0 || m_sampler->adapterCount() == 0)
        return;
    const int current = m_stats.selectedIndex();
    const int t = followedAdapter();
    if (t < 0 || t == current)
        return;
    const std::string from = current >= 0 ? m_stats.adapterName(current) : std::string{};
    const std::string description = m_stats.adapterDescription(t);
    const std::string name = m_stats.adapterName(t);
    m_global.writeLog(CConnectionFollower::switchLogText(from, name));
    m_stats.stopCapture();
    initialiseAdapter(t, false);
    // The list is built again as capture opens, and a moved default route reorders it: the
    // index may now name another adapter.
    if (m_stats.selectedAdapterName() != name)
        for (int i = 0; i < m_stats.adapterCount(); ++i)
            if (m_stats.adapterName(i) == name) {
                m_stats.stopCapture();
                initialiseAdapter(i, false);
                break;
            }
    // The counters of the new adapter become the previous reading: no jump, no lost period.
    m_sampler->switchAdapter(description);
    fillAdapterCombo();
}

void CTallynetDlg::fillAdapterCombo() {
    const int count = m_stats.adapterCount();
    m_sampler->setAdapterCount(count);
    const QSignalBlocker block(m_combo);
    m_combo->clear();
    m_combo->clearRemembered();
    for (int i = 0; i < count; ++i)
        m_combo->addItem(QString::fromStdString(m_stats.adapterDescription(i)));
    addAutomaticEntry();
    const int selected = m_stats.selectedIndex();
    m_combo->setCurrentIndex(m_following && m_autoOffset != 0    ? 0
                             : selected >= 0 && selected < count ? selected + m_autoOffset
                                                                 : 0);
    const int remembered =
        m_autoOffset != 0 && m_global.LastAdapterName == CConnectionFollower::kSetting
            ? 0
            : m_combo->findText(QString::fromStdString(m_global.LastAdapterName),
                                Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (remembered >= 0)
        m_combo->setRemembered(remembered, true);
}

bool CTallynetDlg::initialiseAdapter(int index, bool byUser) {
    m_pendingOpen = -1; // a later choice replaces the one still waiting for the first paint
    if (m_openAfterPaint) {
        // Starting the capture (its helper, the device) waits until the window is on the
        // screen; the records and the list are loaded already.
        m_pendingOpen = index;
        return true;
    }
    // Initialise saves what was counted since the last save before it reloads the records.
    if (m_stats.initialise(index) != 0)
        return true;
    const QString text = QString("Failed to initialize network adapter!\nErr : ") +
                         QString::fromStdString(m_stats.lastErrorText());
    // Shown once: a reload or a resume that fails the same way does not ask again.
    if (byUser || text != m_lastFailureShown) {
        m_lastFailureShown = text;
        auto* box = new QMessageBox(QMessageBox::Critical, "Tallynet", text, QMessageBox::Ok, this);
        box->setObjectName("initFailure");
        box->setAttribute(Qt::WA_DeleteOnClose);
        openOverWindow(box); // never blocks the tick
    }
    return false;
}

void CTallynetDlg::adapterSelectionChange(bool byUser) {
    const int index = m_combo->currentIndex();
    if (index < 0)
        return;
    QString selected = m_combo->itemText(index);
    int adapter = index - m_autoOffset;
    m_following = m_autoOffset != 0 && index == 0;
    if (m_following) {
        // The connection in use, or the first adapter (the default route's, if any) for now.
        adapter = std::max(followedAdapter(), 0);
        selected = QString::fromStdString(m_stats.adapterDescription(adapter));
        const QSignalBlocker block(m_combo);
        m_combo->setItemText(
            0, QString::fromStdString(CConnectionFollower::automaticText(selected.toStdString())));
    }
    if (selected.toStdString() != m_sampler->adapterName()) {
        if (m_sampler->adapterCount() != 0) {
            m_stats.stopCapture();
            initialiseAdapter(adapter, byUser);
            m_sampler->setAdapterName(selected.toStdString());
        }
        m_sampler->restartPeriod();
    }
    showIdleState();
}

void CTallynetDlg::onResume() {
    m_sampler->setAdapterName(kResumeMarker);
    adapterSelectionChange(false);
}

void CTallynetDlg::onRemember() {
    const int index = m_combo->currentIndex();
    if (m_sampler->adapterCount() == 0 || index < 0 || m_combo->itemText(index).isEmpty())
        return;
    const std::string selected = m_autoOffset != 0 && index == 0
                                     ? std::string(CConnectionFollower::kSetting)
                                     : m_combo->itemText(index).toStdString();
    if (m_global.LastAdapterName != selected) {
        m_global.LastAdapterName = selected;
        m_combo->clearRemembered();
        m_combo->setRemembered(index, true);
    } else {
        m_global.LastAdapterName.clear();
        m_combo->setRemembered(index, false);
    }
    m_combo->update();
    m_global.writeString("LastAdapterName", m_global.LastAdapterName);
}

void CTallynetDlg::onExit() {
    if (m_global.ConfirmExit != 0) {
        QMessageBox box(QMessageBox::Question, "Tallynet", "Exit program?",
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName("confirmExit");
        if (box.exec() != QMessageBox::Yes)
            return;
    }
    endDialog();
}

void CTallynetDlg::accept() {
    onExit();
}

void CTallynetDlg::reject() {
    onViewLog(); // Escape is the View Log command; it never closes the program
}

void CTallynetDlg::closeEvent(QCloseEvent* event) {
    if (m_ending) {
        event->accept();
        return;
    }
    // A close request from the window manager hides the window; Exit ends the program.
    event->ignore();
    hideWindow();
}

void CTallynetDlg::paintEvent(QPaintEvent* event) {
    CBitmapDlg::paintEvent(event);
    if (!m_firstPaintSeen) {
        m_firstPaintSeen = true;
        emit firstPaint();
        // Once this paint has reached the screen.
        QTimer::singleShot(0, this, &CTallynetDlg::openPendingAdapter);
    }
}

void CTallynetDlg::hideWindow() {
    if (m_tray->areaAvailable() && !m_tray->isHidden())
        hide();
    else
        showMinimized(); // no notification area: the taskbar is the way back
    updateTrayMenu();
}

void CTallynetDlg::showWindow() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    updateTrayMenu();
}

void CTallynetDlg::onTrayClicked(const QPoint& cursor) {
    m_trayClickPoint = cursor;
    m_startHidden = false;
    if (isVisible() && !isMinimized())
        hideWindow();
    else
        showWindow();
}

void CTallynetDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange)
        handleActivationChange(isActiveWindow(), QApplication::activeWindow());
    CBitmapDlg::changeEvent(event);
}

void CTallynetDlg::handleActivationChange(bool active, QWidget* activated) {
    if (active || m_global.Autohide == 0 || !isVisible() || isMinimized())
        return;
    const QPoint cursor = cursorPos ? cursorPos() : QCursor::pos();
    if (cursor == m_trayClickPoint || m_tray->trayAreaRect().contains(cursor))
        return;
    if (activated && activated != this && activated->parentWidget() == this)
        return; // one of our own windows
    hideWindow();
}

QPoint CTallynetDlg::clampedPosition(const QRect& frame, const QSize& screen) {
    auto clamp = [](int start, int length, int limit) {
        if (start < 0)
            return 0;
        if (start + length > limit)
            return std::max(0, limit - length);
        return start;
    };
    return {clamp(frame.x(), frame.width(), screen.width()),
            clamp(frame.y(), frame.height(), screen.height())};
}

std::vector<std::uint8_t> CTallynetDlg::encodePosition(const QPoint& pos) {
    const auto x = static_cast<std::uint16_t>(pos.x());
    const auto y = static_cast<std::uint16_t>(pos.y());
    return {static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(x >> 8),
            static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(y >> 8)};
}

void CTallynetDlg::restorePosition() {
    const auto bytes = m_global.readBinary("WndPos");
    if (!bytes || bytes->size() != 4)
        return;
    const int x = (*bytes)[0] | ((*bytes)[1] << 8);
    const int y = (*bytes)[2] | ((*bytes)[3] << 8);
    // Stored at another scale factor, or on a monitor that is gone, it would open where a
    // frameless window can never be reached: then it comes onto the nearest screen.
    move(placedOnScreens(QRect(QPoint(x, y), frameGeometry().size()), screenAreasForPlacement()));
}

QList<QRect> CTallynetDlg::screenAreasForPlacement() const {
    return screenAreas ? screenAreas() : availableScreenAreas();
}

void CTallynetDlg::storePosition() {
    QSize screenArea;
    if (screenSize) {
        screenArea = screenSize();
    } else if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect all = s->virtualGeometry();
        screenArea = QSize(all.right() + 1, all.bottom() + 1);
    }
    if (screenArea.isEmpty())
        return;
    m_global.writeBinary("WndPos", encodePosition(clampedPosition(frameGeometry(), screenArea)));
}

void CTallynetDlg::openNetworkSettings() {
    if (m_combo->currentIndex() >= 0 && m_networkSettings)
        m_networkSettings->open();
}

} // namespace tn::ui
