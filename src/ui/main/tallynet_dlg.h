#pragma once
#include "capture/adapter.h"
#include "orchestration/tick_sampler.h"
#include "stats/data_plan.h"
#include "stats/notices.h"
#include "stats/outage_detector.h"
#include "stats/probe.h"
#include "ui/main/graph_control.h"
#include "ui/main/system_tray.h"
#include "ui/widgets/bitmap_dlg.h"

#include <QHash>
#include <QList>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace tn {
class CGlobal;
class IClock;
class IIcmpFactory;
class IInterfaceTable;
class INetworkSettings;
class INotifier;
class IStatisticsOwner;
} // namespace tn

namespace tn::ui {

class CAdapterCombo;
class CFlatButton;
class CLogViewer;
class CPictureCtrl;
class CPlainLabel;
class CSpeedBar;

// What the main window needs from the rest of the program.
struct MainWindowServices {
    CGlobal* global = nullptr;
    const IClock* clock = nullptr;
    IInterfaceTable* interfaces = nullptr;       // the operating system's counters
    IStatisticsOwner* stats = nullptr;           // capture, accounting and stat.dat
    IIcmpFactory* icmp = nullptr;                // null: probes fail quietly
    INetworkSettings* networkSettings = nullptr; // null: the status picture opens nothing
    INotifier* notifier = nullptr;               // null: no desktop notices
    std::unique_ptr<ITrayShell> trayShell;       // null: the desktop's notification area
};

// The main window: adapter choice, live speeds and totals once a second, the tray icon.
class CTallynetDlg : public CBitmapDlg, public ITickEvents, public IOutageStatus {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 1000;
    static constexpr int kTrayUid = 2000;
    static constexpr const char* kNoAdapters = "No adapters found. Please check your network.";
    static constexpr const char* kResumeMarker = "@@@";

    explicit CTallynetDlg(MainWindowServices services, QWidget* parent = nullptr);
    ~CTallynetDlg() override;

    // Initialisation: tray icon, position, adapter list, graph, the tick. Shows the window
    // unless it starts hidden.
    void initDialog();
    // The end of the run: position stored, tick stopped, capture stopped, statistics saved.
    // Runs once; later calls do nothing.
    void shutdown();
    // Ends the run as the Exit button does, without asking.
    void endDialog();
    bool isEnding() const { return m_ending; }

    // One tick of timer 103.
    void onTick();
    // Resume from suspend: reopen the adapter and start a new measuring period.
    void onResume();
    // The machine goes to sleep (save now) or wakes up (resume).
    // The session locked: nothing is drawn, counting goes on; unlocked: the last second shows.
    void onScreenLock(bool locked);
    void onSleepChange(bool sleeping);
    // A later start of the program: the window comes up, also when hidden or minimised.
    void showFromElsewhere();
    // Left click on the tray icon.
    void onTrayClicked(const QPoint& cursor);
    // Hides the window, or minimises it when the desktop has no notification area.
    void hideWindow();
    void showWindow();
    // The tray icon's menu: Show or Hide, View Log, Options, Exit.
    QMenu* trayMenu() const { return m_trayMenu; }
    // Before the menu opens: Show or Hide as the window is, the commands only while no other
    // window of ours waits for an answer.
    void updateTrayMenu();
    // Activation change: auto-hide when deactivated and every condition holds.
    void handleActivationChange(bool active, QWidget* activated);

    // The window position rule on exit: kept inside a screen of the given size.
    static QPoint clampedPosition(const QRect& frame, const QSize& screen);
    static std::vector<std::uint8_t> encodePosition(const QPoint& pos);

    QWidget* control(int id) const { return m_controls.value(id); }
    CSystemTray& tray() { return *m_tray; }
    CTickSampler& sampler() { return *m_sampler; }
    GraphControl* graph() const { return m_graph; }
    bool startHidden() const { return m_startHidden; }
    // Replaceable in tests: cursor position and screen size.
    std::function<QPoint()> cursorPos;
    std::function<QSize()> screenSize;
    std::function<QList<QRect>()> screenAreas; // the screens' usable areas

signals:
    void firstPaint();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    QList<QRect> screenAreasForPlacement() const override;
    void reject() override;
    void accept() override;

private:
    // ITickEvents: the outage detector and the probe schedule.
    void outageStep(std::uint64_t incoming) override;
    void probeStep() override;
    // IOutageStatus: the status picture and text.
    void setStatusPicture(int bitmapId) override;
    void setStatusText(const std::string& text) override;
    void showFileError(const std::string& text) override;

    void buildControls();
    void buildTrayMenu();
    void toggleFromTray();
    QPushButton* button(int id) const;
    void onViewLog();
    void onApplications();
    void onOptions();
    void onHelp();
    void onAbout();
    void loadAdapterList();
    void fillAdapterCombo();
    // "Automatic": the first entry when the system tells the default route's interface.
    void addAutomaticEntry();
    int followedAdapter() const;
    // While "Automatic" is chosen: moves capture and counters to the default route's adapter.
    void followConnection();
    void adapterSelectionChange(bool byUser);
    bool initialiseAdapter(int index, bool byUser);
    void showIdleState();
    void onRemember();
    void onExit();
    void openNetworkSettings();
    void restorePosition();
    void storePosition();
    void setText(int id, const QString& text);
    void applyShownView();
    void openPendingAdapter();

    CGlobal& m_global;
    const IClock& m_clock;
    IStatisticsOwner& m_stats;
    INetworkSettings* m_networkSettings;
    CAdapter m_counters;
    std::unique_ptr<CSystemTray> m_tray;
    std::unique_ptr<CTickSampler> m_sampler;
    std::unique_ptr<CDataPlanWatch> m_planWatch;
    std::unique_ptr<CNotices> m_notices;
    std::unique_ptr<COutageDetector> m_detector;
    std::unique_ptr<CProbe> m_probe;
    QTimer m_timer;
    QHash<int, QWidget*> m_controls;
    QPointer<CLogViewer> m_viewer; // while the history viewer runs
    QPointer<QDialog> m_apps;      // while "Tallynet Applications" runs
    QMenu* m_trayMenu = nullptr;
    QAction* m_trayShowHide = nullptr;
    QAction* m_trayViewLog = nullptr;
    QAction* m_trayApps = nullptr; // "Tallynet Applications"
    QAction* m_trayOptions = nullptr;
    QAction* m_trayDataPlan = nullptr;
    QAction* m_trayOutageNotices = nullptr;
    QAction* m_trayExit = nullptr;
    CAdapterCombo* m_combo = nullptr;
    CPictureCtrl* m_picture = nullptr;
    CSpeedBar* m_rxBar = nullptr;
    CSpeedBar* m_txBar = nullptr;
    GraphControl* m_graph = nullptr;
    bool m_startHidden = false;
    bool m_screenLocked = false;
    bool m_initialised = false;
    bool m_ending = false;
    bool m_shutDown = false;
    bool m_firstPaintSeen = false;
    QPoint m_trayClickPoint{-1, -1};
    QString m_lastFailureShown;
    // Message boxes asked for while the window was not yet visible; shown over it once it is,
    // rather than alone in a corner of the screen in front of a window still to come.
    QList<QPointer<QMessageBox>> m_pendingBoxes;
    void openOverWindow(QMessageBox* box);
    int m_tickCount = 0;
    int m_autoOffset = 0;                // 1 while the combo's first entry is "Automatic"
    bool m_following = false;            // "Automatic" is chosen
    std::optional<TickView> m_shownView; // the last tick's view, until the window shows it
    bool m_openAfterPaint = false;       // start-up: the capture opens after the first paint
    int m_pendingOpen = -1;              // the adapter to open then
};

} // namespace tn::ui
