#include "ui/main/tallynet_dlg.h"

#include "app/global.h"
#include "fake_tray_shell.h"
#include "orchestration/statistics_owner.h"
#include "support/fake_platform.h"
#include "support/file_bytes.h"
#include "ui/dialogs/log_viewer.h"
#include "ui/dialogs/ns_chart_ctrl.h"
#include "ui/widgets/adapter_combo.h"
#include "ui/widgets/bitmap_dlg.h"
#include "ui/widgets/picture_ctrl.h"
#include "ui/widgets/speed_bar.h"

#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>

namespace {

using namespace tn;
using tn::ui::CTallynetDlg;

// A main window over fakes: its settings in a temporary folder, a clock the test moves.
struct Rig {
    test::FakePlatform fake;
    const test::TempDir& dir = fake.dir;
    test::FakeClock& clock = fake.clock;
    test::FakeSettingsStore& store = fake.settings;
    test::FakeInterfaceTable& table = fake.interfaces;
    test::FakeStatisticsOwner stats;
    std::unique_ptr<CGlobal> global;
    test::FakeTrayShell* shell = nullptr;
    std::unique_ptr<CTallynetDlg> dlg;

    explicit Rig(const std::function<void(CGlobal&)>& settings = {}, bool trayArea = true) {
        table.count = 2;
        global = std::make_unique<CGlobal>(fake.services());
        global->loadSettings();
        if (settings)
            settings(*global);
        auto fakeShell = std::make_unique<test::FakeTrayShell>();
        fakeShell->areaAvailable = trayArea;
        shell = fakeShell.get();
        ui::MainWindowServices services;
        services.global = global.get();
        services.clock = &clock;
        services.interfaces = &table;
        services.stats = &stats;
        services.trayShell = std::move(fakeShell);
        services.networkSettings = &fake.networkSettings;
        dlg = std::make_unique<CTallynetDlg>(std::move(services));
        dlg->cursorPos = [this] { return cursor; };
        dlg->screenSize = [] { return QSize(1280, 1024); };
        dlg->screenAreas = [] { return QList<QRect>{QRect(0, 0, 1280, 1024)}; };
    }
    QPoint cursor{10, 10};

    QString text(int id) const {
        if (auto* l = qobject_cast<QLabel*>(dlg->control(id)))
            return l->text();
        if (auto* g = qobject_cast<ui::CGroupFrame*>(dlg->control(id)))
            return g->title();
        return "<none>";
    }
    ui::CAdapterCombo* combo() const { return static_cast<ui::CAdapterCombo*>(dlg->control(1015)); }
    QPushButton* button(int id) const { return static_cast<QPushButton*>(dlg->control(id)); }
    void tick(std::uint64_t in, std::uint64_t out) {
        table.rows = {InterfaceRow{"eth0", in, out, 0}, InterfaceRow{"wlan0", 1, 1, 0}};
        clock.advance(1);
        dlg->onTick();
    }
};

// Clicks a button of the next message box with the given object name.
void answerNextBox(QObject* context, const char* name, QMessageBox::StandardButton answer) {
    QTimer::singleShot(0, context, [name, answer] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->objectName() == name)
                box->button(answer)->click();
    });
}

// What the menu's aboutToShow does before a right click shows it.
void rig_updateMenu(QMenu* menu) {
    emit menu->aboutToShow();
}

} // namespace

class MainDialogTest : public QObject {
    Q_OBJECT
private slots:
    // A screen reader announces every control by a name that says what it is, also where the
    // control shows no text of its own (the remember toggle, the picture, the combo, values).
    void everyControl_hasAnAccessibleName() {
        Rig rig;
        rig.dlg->initDialog();
        const auto children =
            rig.dlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        int named = 0;
        for (QWidget* w : children) {
            if (qobject_cast<QMessageBox*>(w))
                continue;
            QVERIFY2(!w->accessibleName().trimmed().isEmpty(), qPrintable(w->objectName()));
            ++named;
        }
        QVERIFY(named >= 45); // the window's whole control table
        QCOMPARE(rig.button(1087)->accessibleName(), QString("Remember this adapter"));
        QCOMPARE(rig.dlg->control(1000)->accessibleName(), QString("Download speed"));
        QCOMPARE(rig.dlg->control(1015)->accessibleName(), QString("Network adapter"));
    }

    void layout_everyControlHasItsIdentifierTextAndColour() {
        Rig rig;
        QCOMPARE(tn::ui::dialogUnitsToPixelsX(302, 96), 453);
        QCOMPARE(tn::ui::dialogUnitsToPixelsY(174, 96), 283);  // 282.75 rounded
        QCOMPARE(tn::ui::dialogUnitsToPixelsX(302, 144), 680); // 679.5 at 150 %
        const struct {
            int id;
            const char* text;
        } initial[] = {{1030, "..."},
                       {1046, "Download"},
                       {1000, "0 kb/s"},
                       {1047, "Upload"},
                       {1002, "0 kb/s"},
                       {1048, "Total Speed"},
                       {1004, "0 kb/s"},
                       {1012, "Average Speeds (from program startup till current time)"},
                       {1006, "0 kb/s"},
                       {1007, "0 kb/s"},
                       {1008, "0 kb/s"},
                       {1020, "Traffic during last :"},
                       {1001, "0 kb"},
                       {1003, "0 kb"},
                       {1005, "0 kb"},
                       {1014, "General"},
                       {1010, "0 kb/s"},
                       {1009, "0 kb/s"},
                       {1017, "00:00:00:00"},
                       {1018, "0 kb/s"}};
        for (const auto& c : initial) {
            QCOMPARE(rig.dlg->findChild<QWidget*>(QString::number(c.id)), rig.dlg->control(c.id));
            QCOMPARE(rig.text(c.id), QString(c.text));
        }
        const struct {
            int id;
            const char* text;
        } buttons[] = {{1087, " "},    {1021, "Hide"},  {1019, "Options"}, {2, "View Log"},
                       {1022, "Help"}, {1013, "About"}, {1, "Exit"}};
        for (const auto& b : buttons)
            QCOMPARE(rig.button(b.id)->text(), QString(b.text));
        QVERIFY(rig.dlg->control(1015) && rig.dlg->control(1027) && rig.dlg->control(1011));
        auto colour = [&](int id) {
            return rig.dlg->control(id)->palette().color(QPalette::WindowText);
        };
        QCOMPARE(colour(1000), QColor(0, 255, 0));
        QCOMPARE(colour(1002), QColor(255, 0, 0));
        QCOMPARE(colour(1004), QColor(0, 0, 0));
        QCOMPARE(colour(1009), QColor(255, 255, 0));
        QCOMPARE(colour(1017), QColor(255, 255, 255));
        QCOMPARE(static_cast<tn::ui::CSpeedBar*>(rig.dlg->control(1052))->barColor(),
                 QColor(0, 200, 0));
        QCOMPARE(static_cast<tn::ui::CSpeedBar*>(rig.dlg->control(1053))->barColor(),
                 QColor(200, 0, 0));
        QVERIFY(rig.dlg->windowFlags() & Qt::FramelessWindowHint);
    }

    void ticks_fillTheTextsBarsGraphAndTray() {
        Rig rig([](CGlobal& g) { g.LastAdapterName = "eth0"; });
        rig.dlg->initDialog();
        QCOMPARE(rig.dlg->windowTitle(), QString("Tallynet ver ") + TALLYNET_VERSION_TEXT);
        rig.tick(1000, 500);
        QCOMPARE(rig.text(1000), QString("0 B/s"));
        QCOMPARE(rig.text(1009), QString("1000 B"));
        rig.tick(1000 + 3072, 500 + 512);
        QCOMPARE(rig.text(1000), QString("3.00 KB/s"));
        QCOMPARE(rig.text(1002), QString("512 B/s"));
        QCOMPARE(rig.text(1004), QString("3.50 KB/s"));
        QCOMPARE(rig.text(1001), QString("3.00 KB"));
        QCOMPARE(rig.text(1005), QString("3.50 KB"));
        QCOMPARE(rig.text(1009), QString("3.98 KB")); // 4072 / 1024
        QCOMPARE(rig.text(1020), QString("Traffic during last 0:00:02"));
        QCOMPARE(rig.text(1012), QString("Average Speeds during last 0:00:02"));
        QCOMPARE(rig.text(1006), QString("1.50 KB")); // 3072 B over 2 s
        QCOMPARE(rig.shell->lastIcon, 137);
        QCOMPARE(rig.shell->lastTooltip, QString("In : 3.00 KB  Out : 512 B"));
        auto* rx = static_cast<tn::ui::CSpeedBar*>(rig.dlg->control(1052));
        QCOMPARE(rx->maximum(), 16384u);
        QCOMPARE(rx->position(), 3072u);
        QCOMPARE(rig.dlg->graph()->model().fixedMaximum(), 16384.0);
        rig.dlg->graph()->sampleTick(); // the graph samples what the tick gave it
        const auto& model = rig.dlg->graph()->model();
        QCOMPARE(model.valueAt(model.columns()), 3584.0); // 3072 in + 512 out
        rig.tick(4072, 1012);
        QCOMPARE(rig.shell->lastIcon, 134);
    }

    void rememberedAdapter_isMarkedAndOpened_toggleRemembersThenForgets() {
        Rig rig([](CGlobal& g) { g.LastAdapterName = "wlan0"; });
        rig.dlg->initDialog();
        QCOMPARE(rig.combo()->currentText(), QString("wlan0"));
        QVERIFY(rig.combo()->isRemembered(1));
        QVERIFY(!rig.combo()->isRemembered(0));
        QCOMPARE(rig.stats.calls, (std::vector<std::string>{"init -1", "stop"}));
        QVERIFY(QTest::qWaitForWindowExposed(rig.dlg.get()));
        QTRY_COMPARE(rig.stats.calls, (std::vector<std::string>{"init -1", "stop", "init 1"}));

        rig.combo()->setCurrentIndex(0);
        QTest::mouseClick(rig.button(1087), Qt::LeftButton);
        QCOMPARE(rig.global->LastAdapterName, std::string("eth0"));
        QVERIFY(rig.combo()->isRemembered(0));
        QVERIFY(!rig.combo()->isRemembered(1));
        QCOMPARE(rig.store.getString("LastAdapterName").value_or("?"), std::string("eth0"));
        QTest::mouseClick(rig.button(1087), Qt::LeftButton);
        QCOMPARE(rig.global->LastAdapterName, std::string());
        QVERIFY(!rig.combo()->isRemembered(0));
        QCOMPARE(rig.store.getString("LastAdapterName").value_or("?"), std::string());
    }

    void automatic_isFirstAndChosenOnAFirstStart_followsTheDefaultRouteWithoutAJump() {
        Rig rig([](CGlobal&) {});
        rig.stats.followRoute = true;
        rig.stats.route = "wlan0";
        rig.dlg->initDialog();
        QCOMPARE(rig.combo()->count(), 3);
        QCOMPARE(rig.combo()->itemText(0), QString("Automatic (wlan0)"));
        QCOMPARE(rig.combo()->currentIndex(), 0);
        // The capture opens once the window is painted.
        QVERIFY(QTest::qWaitForWindowExposed(rig.dlg.get()));
        QTRY_COMPARE(rig.stats.selected, 1); // wlan0 opened
        const auto rows = [&](std::uint64_t eth, std::uint64_t wlan) {
            rig.table.rows = {InterfaceRow{"eth0", eth, eth, 0},
                              InterfaceRow{"wlan0", wlan, wlan, 0}};
            rig.clock.advance(1);
            rig.dlg->onTick();
        };
        rows(900000, 1000);
        rows(900000, 3048);
        QCOMPARE(rig.text(1001), QString("2.00 KB"));
        // The route moves to eth0, whose counters are far higher: the period goes on from
        // them, with no jump of 900 KB.
        rig.stats.route = "eth0";
        rig.stats.calls.clear();
        rows(900000, 4072); // read from wlan0, then the switch
        QCOMPARE(rig.stats.calls, (std::vector<std::string>{"stop", "init 0"}));
        QCOMPARE(rig.combo()->itemText(0), QString("Automatic (eth0)"));
        QCOMPARE(rig.combo()->currentIndex(), 0);
        QCOMPARE(rig.text(1001), QString("3.00 KB"));
        rows(900000 + 2048, 9999);
        QCOMPARE(rig.text(1001), QString("5.00 KB"));
        QCOMPARE(rig.text(1000), QString("2.00 KB/s"));
        QVERIFY(test::readText(rig.dir / "data/TN.log")
                    .find("Automatic: the default route moved from wlan0 to eth0") !=
                std::string::npos);
        // No default route for a moment: the adapter in use stays.
        rig.stats.route.clear();
        rig.stats.calls.clear();
        rows(900000 + 4096, 9999);
        QVERIFY(rig.stats.calls.empty());
        // Remembered as "Automatic", and a chosen adapter stops the following.
        QTest::mouseClick(rig.button(1087), Qt::LeftButton);
        QCOMPARE(rig.store.getString("LastAdapterName").value_or("?"), std::string("Automatic"));
        QVERIFY(rig.combo()->isRemembered(0));
        rig.combo()->setCurrentIndex(2);
        emit rig.combo()->activated(2);
        QCOMPARE(rig.stats.selected, 1);
        rig.stats.route = "eth0";
        rig.stats.calls.clear();
        rows(1, 1);
        QVERIFY(rig.stats.calls.empty());
    }

    void userSelection_reopensCapture_andRestartsThePeriod() {
        Rig rig;
        rig.dlg->initDialog();
        rig.tick(1000, 1000);
        rig.tick(5096, 1000);
        QCOMPARE(rig.text(1001), QString("4.00 KB"));
        rig.stats.calls.clear();
        rig.combo()->setCurrentIndex(1);
        emit rig.combo()->activated(1);
        QCOMPARE(rig.stats.calls, (std::vector<std::string>{"stop", "init 1"}));
        QCOMPARE(rig.dlg->sampler().periodReceived(), 0u);
        QCOMPARE(rig.shell->lastIcon, 134);

        for (std::uint64_t in : {5000u, 6024u}) { // wlan0 is the open adapter now
            rig.table.rows = {InterfaceRow{"wlan0", in, 10, 0}};
            rig.clock.advance(1);
            rig.dlg->onTick();
        }
        QCOMPARE(rig.dlg->sampler().periodReceived(), 1024u);
        rig.stats.calls.clear();
        rig.dlg->onResume(); // the same adapter is opened again after a suspend
        QCOMPARE(rig.stats.calls, (std::vector<std::string>{"stop", "init 1"}));
        QCOMPARE(rig.dlg->sampler().periodReceived(), 0u); // and a new period begins
    }

    void failureAtStart_isShownOverTheWindowOnceItIsVisible() {
        Rig rig([](CGlobal& g) {
            g.LastAdapterName = "eth0";
            g.StartMin = 1; // in the notification area only: the window stays hidden
        });
        rig.stats.failText = "eth0: No such device exists";
        rig.dlg->initDialog();
        const auto box = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w); b && b->objectName() == "initFailure")
                    return b;
            return static_cast<QMessageBox*>(nullptr);
        };
        QCoreApplication::processEvents();
        QVERIFY(!rig.dlg->isVisible());
        QVERIFY(!box() || !box()->isVisible());
        rig.dlg->show();
        QTRY_VERIFY(box() && box()->isVisible());
        QCOMPARE(box()->parentWidget(), rig.dlg.get());
        QVERIFY(box()->frameGeometry().intersects(rig.dlg->frameGeometry()));
        box()->close();
    }

    void failingCapture_showsTheMessageOnce() {
        Rig rig([](CGlobal& g) { g.LastAdapterName = "eth0"; });
        rig.stats.failText = "eth0: You don't have permission to capture on that device";
        rig.dlg->initDialog();
        auto boxes = [] {
            QList<QMessageBox*> found;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w);
                    b && b->objectName() == "initFailure" && b->isVisible())
                    found << b;
            return found;
        };
        QTRY_COMPARE(boxes().size(), 1);
        QCOMPARE(boxes().first()->text(),
                 QString("Failed to initialize network adapter!\nErr : eth0: You don't have "
                         "permission to capture on that device"));
        QCOMPARE(boxes().first()->windowTitle(), QString("Tallynet"));
        rig.dlg->onResume(); // fails again the same way: no second box
        rig.table.count = 3;
        rig.stats.adapters.push_back("usb0");
        rig.tick(0, 0); // the adapter set changed: list reloaded, remembered adapter reopened
        QCOMPARE(boxes().size(), 1);
        QVERIFY(rig.dlg->isVisible()); // and the program runs on
        boxes().first()->close();
    }

    void failedSave_isToldOverTheWindowOnce_evenBeforeItIsShown() {
        Rig rig([](CGlobal& g) { g.StartMin = 1; });
        const std::filesystem::path file = rig.fake.dataFile("stat.dat");
        rig.global->fileFailures().failed(file, ENOSPC, false, "The next save tries again.");
        rig.global->fileFailures().failed(file, ENOSPC, false, "The next save tries again.");
        rig.dlg->initDialog();
        auto boxes = [] {
            QList<QMessageBox*> found;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w);
                    b && b->objectName() == "fileError" && b->isVisible())
                    found << b;
            return found;
        };
        QCoreApplication::processEvents();
        QVERIFY(boxes().isEmpty()); // hidden window: the box waits for it
        rig.dlg->show();
        QTRY_COMPARE(boxes().size(), 1);
        QVERIFY(boxes().first()->text().contains(QString::fromStdString(file.string())));
        QVERIFY(boxes().first()->text().contains(QString::fromUtf8(std::strerror(ENOSPC))));
        QCOMPARE(boxes().first()->parentWidget(), rig.dlg.get());
        boxes().first()->close();
    }

    void exitQuestion_answeredNoKeepsRunning_YesEnds() {
        Rig rig([](CGlobal& g) { g.ConfirmExit = 1; });
        rig.dlg->initDialog();
        QSignalSpy finished(rig.dlg.get(), &QDialog::finished);
        answerNextBox(rig.dlg.get(), "confirmExit", QMessageBox::No);
        rig.button(1)->click();
        QCOMPARE(finished.count(), 0);
        QVERIFY(rig.dlg->isVisible());
        QVERIFY(!rig.dlg->isEnding());
        answerNextBox(rig.dlg.get(), "confirmExit", QMessageBox::Yes);
        rig.button(1)->click();
        QCOMPARE(finished.count(), 1);
    }

    // A right click on the tray icon offers the window's main commands; Exit asks as the Exit
    // button does, and Show/Hide says what it will do.
    void trayMenu_showHideViewLogOptionsExit() {
        Rig rig([](CGlobal& g) { g.ConfirmExit = 1; });
        rig.dlg->initDialog();
        QMenu* menu = rig.dlg->trayMenu();
        QCOMPARE(rig.shell->menu, menu);
        QStringList texts;
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                texts << a->text();
        QCOMPARE(texts, (QStringList{"Hide", "View Log", "Applications", "Options", "Data plan",
                                     "Outage notices", "Exit"}));
        auto action = [menu](const QString& text) -> QAction* {
            rig_updateMenu(menu);
            for (QAction* a : menu->actions())
                if (a->text() == text)
                    return a;
            return nullptr;
        };
        QVERIFY(rig.dlg->isVisible());
        action("Hide")->trigger();
        QVERIFY(!rig.dlg->isVisible());
        QVERIFY(action("Show"));
        action("Show")->trigger();
        QVERIFY(rig.dlg->isVisible());

        for (const char* command : {"View Log", "Applications", "Options", "Data plan"}) {
            QString seen;
            bool freeWhileOpen = true;
            QTimer::singleShot(0, rig.dlg.get(), [&] {
                QWidget* modal = QApplication::activeModalWidget();
                seen = modal ? modal->windowTitle() + "|" + modal->metaObject()->className()
                             : QString();
                rig.dlg->updateTrayMenu();
                for (QAction* a : menu->actions())
                    if (a->text() == "Options" || a->text() == "View Log" ||
                        a->text() == "Applications" || a->text() == "Exit")
                        freeWhileOpen = freeWhileOpen && a->isEnabled();
                if (modal)
                    static_cast<QDialog*>(modal)->reject();
            });
            action(command)->trigger();
            const QString expected = command == QString("View Log")       ? "CLogViewer"
                                     : command == QString("Applications") ? "CAppsDlg"
                                     : command == QString("Options")      ? "COptions"
                                                                          : "CDataPlanDlg";
            QVERIFY2(seen.contains(expected), qPrintable(seen));
            QVERIFY2(!freeWhileOpen, command); // no second window over the first
        }

        // The outage notices follow their menu item, however it is toggled, and are stored.
        QVERIFY(!action("Outage notices")->isChecked());
        action("Outage notices")->trigger();
        QCOMPARE(rig.global->NotifyFalls, 1);
        action("Outage notices")->setChecked(false);
        QCOMPARE(rig.global->NotifyFalls, 0);

        answerNextBox(rig.dlg.get(), "confirmExit", QMessageBox::No);
        action("Exit")->trigger();
        QVERIFY(!rig.dlg->isEnding());
        answerNextBox(rig.dlg.get(), "confirmExit", QMessageBox::Yes);
        action("Exit")->trigger();
        QVERIFY(rig.dlg->isEnding());
    }

    // Starting the program again from the menu must bring up the running copy's window however
    // it was put away: hidden to the tray, started hidden, or minimised.
    void secondStart_showsTheWindow_hiddenStartedHiddenOrMinimised() {
        for (const int way : {0, 1, 2}) {
            Rig rig([way](CGlobal& g) { g.StartMin = way == 1 ? 1 : 0; });
            rig.dlg->initDialog();
            if (way == 0)
                rig.dlg->hideWindow();
            else if (way == 2)
                rig.dlg->showMinimized();
            QVERIFY2(!rig.dlg->isVisible() || rig.dlg->isMinimized(),
                     qPrintable(QString::number(way)));
            rig.dlg->showFromElsewhere();
            QVERIFY2(rig.dlg->isVisible() && !rig.dlg->isMinimized(),
                     qPrintable(QString::number(way)));
            QVERIFY(!rig.dlg->startHidden());
        }
    }

    void exitWithoutQuestion_endsAtOnce_andShutdownSavesOnce() {
        Rig rig;
        rig.dlg->initDialog();
        QSignalSpy finished(rig.dlg.get(), &QDialog::finished);
        rig.button(1)->click();
        QCOMPARE(finished.count(), 1);
        rig.stats.calls.clear();
        rig.dlg->shutdown();
        rig.dlg->shutdown();
        QCOMPARE(rig.stats.calls, std::vector<std::string>{"stopAndSave"});
        QCOMPARE(rig.shell->calls.last(), QString("remove"));
    }

    void escapeAndCloseRequest_doNotEndTheProgram() {
        Rig rig([](CGlobal& g) { g.LastAdapterName = "eth0"; });
        rig.dlg->initDialog();
        QSignalSpy finished(rig.dlg.get(), &QDialog::finished);
        // Escape is View Log: the history viewer runs modally while the tick goes on.
        QString title;
        bool ticked = false;
        QTimer::singleShot(0, rig.dlg.get(), [&] {
            auto* viewer = qobject_cast<ui::CLogViewer*>(QApplication::activeModalWidget());
            if (!viewer)
                return;
            title = viewer->chart()->windowTitle();
            rig.table.rows = {InterfaceRow{"eth0", 1000, 500, 0}, InterfaceRow{"wlan0", 1, 1, 0}};
            rig.clock.advance(1);
            // Timer 103 itself, not a call from the test.
            ticked = QTest::qWaitFor([&] { return rig.text(1009) == "1000 B"; }, 5000);
            QTest::keyClick(viewer, Qt::Key_Escape); // closes the viewer, not the program
        });
        QTest::keyClick(rig.dlg.get(), Qt::Key_Escape);
        QCOMPARE(title, QString("Today"));
        QVERIFY(ticked);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(finished.count(), 0);
        QVERIFY(rig.dlg->isVisible());
        QVERIFY(!rig.dlg->isEnding());
        rig.dlg->close();
        QCOMPARE(finished.count(), 0);
        QVERIFY(!rig.dlg->isEnding());
        QVERIFY(!rig.dlg->isVisible()); // the close request hid it to the tray
        // The View Log button opens it the same way; the end of the run closes it.
        bool opened = false;
        QTimer::singleShot(0, rig.dlg.get(), [&] {
            opened = qobject_cast<ui::CLogViewer*>(QApplication::activeModalWidget()) != nullptr;
            rig.dlg->endDialog();
        });
        rig.button(2)->click();
        QVERIFY(opened);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(finished.count(), 1);
    }

    void autoHide_hidesOnlyWhenEveryConditionHolds() {
        Rig rig([](CGlobal& g) { g.Autohide = 1; });
        rig.shell->geometry = QRect(1200, 1000, 24, 24);
        rig.dlg->initDialog();
        QWidget child(rig.dlg.get(), Qt::Dialog);

        rig.dlg->handleActivationChange(true, rig.dlg.get()); // activated, not deactivated
        QVERIFY(rig.dlg->isVisible());
        rig.cursor = QPoint(1210, 1010); // on the tray icon
        rig.dlg->handleActivationChange(false, nullptr);
        QVERIFY(rig.dlg->isVisible());
        rig.cursor = QPoint(300, 300);
        rig.dlg->handleActivationChange(false, &child); // our own window takes the focus
        QVERIFY(rig.dlg->isVisible());
        rig.dlg->onTrayClicked(QPoint(300, 300));        // hides by the click...
        rig.dlg->onTrayClicked(QPoint(300, 300));        // ...and shows again
        rig.dlg->handleActivationChange(false, nullptr); // cursor still at the tray click
        QVERIFY(rig.dlg->isVisible());
        rig.global->Autohide = 0;
        rig.cursor = QPoint(500, 500);
        rig.dlg->handleActivationChange(false, nullptr);
        QVERIFY(rig.dlg->isVisible());
        rig.global->Autohide = 1;
        rig.dlg->handleActivationChange(false, nullptr); // every condition holds
        QVERIFY(!rig.dlg->isVisible());
        QVERIFY(!rig.dlg->isMinimized());
    }

    void startHidden_showsOnlyTheTrayIcon_untilTheFirstClick() {
        Rig rig([](CGlobal& g) { g.StartMin = 1; });
        rig.dlg->initDialog();
        QVERIFY(!rig.dlg->isVisible());
        QVERIFY(rig.dlg->startHidden());
        rig.dlg->onTrayClicked(QPoint(1, 1));
        QVERIFY(rig.dlg->isVisible());
        QVERIFY(!rig.dlg->startHidden());
        rig.dlg->onTrayClicked(QPoint(1, 1));
        QVERIFY(!rig.dlg->isVisible());
    }

    void noNotificationArea_hideAndStartHiddenMinimiseInstead() {
        Rig rig([](CGlobal& g) { g.StartMin = 1; }, false);
        rig.dlg->initDialog();
        QVERIFY(rig.dlg->isVisible());
        QVERIFY(rig.dlg->isMinimized());
        rig.dlg->showWindow();
        QVERIFY(!rig.dlg->isMinimized());
        rig.button(1021)->click();
        QVERIFY(rig.dlg->isVisible());
        QVERIFY(rig.dlg->isMinimized());
    }

    void position_restoredUncheckedAndStoredInsideTheScreen() {
        using tn::ui::CTallynetDlg;
        // A right edge at 1400 on a 1280-pixel screen is stored at 1280 - width.
        QCOMPARE(CTallynetDlg::clampedPosition(QRect(947, 100, 453, 283), QSize(1280, 1024)),
                 QPoint(827, 100));
        QCOMPARE(CTallynetDlg::clampedPosition(QRect(-20, 900, 453, 283), QSize(1280, 1024)),
                 QPoint(0, 741));
        QCOMPARE(CTallynetDlg::clampedPosition(QRect(100, 200, 453, 283), QSize(1280, 1024)),
                 QPoint(100, 200));
        QCOMPARE(CTallynetDlg::encodePosition(QPoint(827, 100)),
                 (std::vector<std::uint8_t>{0x3B, 0x03, 0x64, 0x00}));

        // Stored at x = 1500 (another scale factor, a monitor gone): brought onto the screen,
        // the least distance, so the frameless window can be reached.
        Rig rig([](CGlobal& g) { g.writeBinary("WndPos", {0xDC, 0x05, 0x28, 0x00}); });
        rig.dlg->initDialog();
        QCOMPARE(rig.dlg->pos(), QPoint(827, 40)); // 1280 - 453
        rig.dlg->shutdown();
        QCOMPARE(rig.store.getBinary("WndPos").value(),
                 (std::vector<std::uint8_t>{0x3B, 0x03, 0x28, 0x00}));
        // A position on the screen is kept as it is.
        Rig kept([](CGlobal& g) { g.writeBinary("WndPos", {0x2C, 0x01, 0xC8, 0x00}); });
        kept.dlg->initDialog();
        QCOMPARE(kept.dlg->pos(), QPoint(300, 200));
    }

    void adapterSetChange_reloadsTheListAndShowsTheIdleState() {
        Rig rig;
        rig.dlg->initDialog();
        rig.tick(1000, 1000);
        rig.tick(2000, 2000);
        QCOMPARE(rig.shell->lastIcon, 137);
        rig.stats.adapters = {"eth0", "wlan0", "usb0"};
        rig.table.count = 3;
        rig.stats.calls.clear();
        const QString before = rig.text(1000);
        rig.tick(3000, 3000);
        QCOMPARE(rig.stats.calls.front(), std::string("stop"));
        QCOMPARE(rig.combo()->count(), 3);
        QCOMPARE(rig.shell->lastIcon, 134);
        QCOMPARE(rig.text(1030), QString("..."));
        QCOMPARE(rig.text(1000), before); // nothing else changes in that tick
    }

    void statusPictureClick_opensTheNetworkSettings() {
        Rig rig;
        rig.dlg->initDialog();
        QTest::mouseClick(rig.dlg->control(1027), Qt::LeftButton);
        QCOMPARE(rig.fake.networkSettings.opened, 1);
    }

    void silence_showsTheRunningOutage_andDataRecordsIt() {
        Rig rig([](CGlobal& g) {
            g.LogFalls = 1;
            g.FallSecs = 0;
        });
        rig.dlg->initDialog();
        auto* picture = static_cast<tn::ui::CPictureCtrl*>(rig.dlg->control(1027));
        rig.tick(1000, 1000); // t = 1700000001: the first reading, nothing received
        QCOMPARE(rig.text(1030), QString("00:00:01"));
        QCOMPARE(picture->pictureId(), 131);
        rig.tick(1000, 1200); // sending alone does not end an outage
        QCOMPARE(rig.text(1030), QString("00:00:02"));
        QCOMPARE(picture->pictureId(), 141);
        rig.tick(2000, 1200); // t = 1700000003: data again
        QCOMPARE(rig.text(1030), QString(""));
        QCOMPARE(picture->pictureId(), 131);
        const auto bytes = test::readBytes(rig.fake.dataFile("NetFalls.dat"));
        // 1700000001 = 0x6553F101 and 1700000003 = 0x6553F103, little-endian 64-bit.
        QCOMPARE(bytes, (std::vector<std::uint8_t>{0x01, 0xF1, 0x53, 0x65, 0, 0, 0, 0, 0x03, 0xF1,
                                                   0x53, 0x65, 0, 0, 0, 0}));

        rig.tick(2000, 1200); // the first silent tick after data is not counted
        rig.tick(2000, 1200);
        QCOMPARE(rig.text(1030), QString("00:00:01"));
        emit rig.combo()->activated(0); // choosing an entry ends the shown outage unrecorded
        QCOMPARE(rig.text(1030), QString("..."));
        QCOMPARE(picture->pictureId(), 131);
    }

    void noAdapters_showTheNoticeEntry() {
        Rig rig;
        rig.stats.adapters.clear();
        rig.table.count = 0;
        rig.dlg->initDialog();
        QCOMPARE(rig.combo()->count(), 1);
        QCOMPARE(rig.combo()->currentText(),
                 QString("No adapters found. Please check your network."));
        rig.tick(0, 0);
        QCOMPARE(rig.text(1000), QString("0 B/s"));
        QTest::mouseClick(rig.button(1087), Qt::LeftButton); // nothing to remember
        QCOMPARE(rig.global->LastAdapterName, std::string());
    }

    // Start-up: the capture (the helper's start) waits for the first paint of a shown window,
    // a window that starts hidden opens it at once, and an adapter chosen in between is the
    // one opened, never the one that was waiting.
    void startUp_capturesOnceTheWindowIsPainted() {
        struct Case {
            const char* name;
            bool startHidden;
            bool chooseFirstBeforePaint;
            std::vector<std::string> atInit;  // the calls when initDialog returns
            std::vector<std::string> painted; // and once the window is on the screen
        };
        const Case cases[] = {
            {"shown", false, false, {"init -1", "stop"}, {"init -1", "stop", "init 1"}},
            {"hidden", true, false, {"init -1", "stop", "init 1"}, {"init -1", "stop", "init 1"}},
            {"chosen before the paint",
             false,
             true,
             {"init -1", "stop", "stop", "init 0"},
             {"init -1", "stop", "stop", "init 0"}},
        };
        for (const Case& c : cases) {
            Rig rig([&](CGlobal& g) {
                g.LastAdapterName = "wlan0";
                g.StartMin = c.startHidden ? 1 : 0;
            });
            rig.dlg->initDialog();
            if (c.chooseFirstBeforePaint) {
                rig.combo()->setCurrentIndex(0);
                emit rig.combo()->activated(0);
            }
            QVERIFY2(rig.stats.calls == c.atInit, c.name);
            if (!c.startHidden)
                QVERIFY(QTest::qWaitForWindowExposed(rig.dlg.get()));
            for (int i = 0; i < 5; ++i)
                QCoreApplication::processEvents();
            QVERIFY2(rig.stats.calls == c.painted, c.name);
        }
    }
};

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
