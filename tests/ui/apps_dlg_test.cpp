#include "ui/dialogs/apps_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "support/fake_platform.h"
#include "ui/dialogs/log_viewer.h"

#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

namespace {

using namespace tn;
using tn::ui::CAppsDlg;

struct Rig {
    test::TzScope tz{"UTC0"};
    test::FakeClock clock;
    test::FakeStatisticsOwner owner;
    Rig() {
        clock.setLocal(2026, 5, 3, 21, 15);
        AppRecords r;
        r.days[2] = {{"curl", 10, 100}, {"firefox-esr", 1000, 2000000}};
        r.days[9] = {{"python3 sync.py", 5, 5}};
        r.months[4] = {{"firefox-esr", 1000, 3000000}, {"user root", 1, 1}};
        owner.appsValue = r;
    }
    static QStringList column(QTableWidget* t, int c) {
        QStringList l;
        for (int r = 0; r < t->rowCount(); ++r)
            l << (t->item(r, c) ? t->item(r, c)->text() : QString());
        return l;
    }
};

} // namespace

class AppsDlgTest : public QObject {
    Q_OBJECT
private slots:
    void views_showTheirProgramsBiggestFirst() {
        Rig rig;
        CAppsDlg dlg(rig.clock, &rig.owner, {false, 10, "Sunday, May 10, 2026"});
        QCOMPARE(dlg.windowTitle(), QString("Tallynet Applications"));
        QCOMPARE(dlg.view()->currentText(), QString("Sunday, May 10, 2026")); // the viewer's day
        QCOMPARE(Rig::column(dlg.table(), 0), QStringList{"python3 sync.py"});
        dlg.view()->setCurrentIndex(dlg.view()->findText("Today"));
        QCOMPARE(Rig::column(dlg.table(), 0), (QStringList{"firefox-esr", "curl"}));
        QCOMPARE(Rig::column(dlg.table(), 1)[0], QString("1.91 MB"));
        dlg.view()->setCurrentIndex(dlg.view()->findText("This month"));
        QCOMPARE(Rig::column(dlg.table(), 0), (QStringList{"firefox-esr", "user root"}));
        // Under a real display (Xvfb) the window as a user sees it is kept for the docs.
        if (const QByteArray dir = qgetenv("TALLYNET_SCREENSHOT_DIR"); !dir.isEmpty()) {
            dlg.view()->setCurrentIndex(dlg.view()->findText("Today"));
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            QVERIFY(dlg.grab().save(QString::fromLocal8Bit(dir) + "/applications_window.png"));
        }
    }

    void now_followsTheSecondsWhileShown() {
        Rig rig;
        CAppsDlg dlg(rig.clock, &rig.owner, {});
        QCOMPARE(dlg.view()->count(), 3); // no day chosen: Now, Today, This month
        dlg.view()->setCurrentIndex(0);
        rig.owner.appTotalsValue = {{"curl", 0, 1000}};
        dlg.refresh();
        rig.owner.appTotalsValue = {{"curl", 0, 1000 + 5 * 1024}};
        dlg.refresh();
        QCOMPARE(Rig::column(dlg.table(), 2), QStringList{"0 B/s"});
        QCOMPARE(Rig::column(dlg.table(), 1), QStringList{"5.00 KB/s"});
        auto* timer = dlg.findChild<QTimer*>();
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), 1000);
    }

    void notCounting_saysSo() {
        Rig rig;
        rig.owner.appsValue.reset();
        CAppsDlg dlg(rig.clock, &rig.owner, {});
        QCOMPARE(dlg.table()->rowCount(), 1);
        QVERIFY(dlg.table()->item(0, 0)->text().contains("CountApps=0"));
    }

    // The viewer's new button sits beside "Done" and leaves every older control where it was.
    void historyViewer_buttonOpensTheWindowWithItsChoice() {
        Rig rig;
        CGlobal global{PlatformServices{}};
        global.loadSettings();
        ui::CLogViewer viewer(global, rig.clock, &rig.owner);
        auto* apps = qobject_cast<QPushButton*>(viewer.control(ids::log_viewer::kApplications));
        QVERIFY(apps);
        QCOMPARE(apps->text(), QString("Applications"));
        const QRect done = viewer.control(ids::log_viewer::kDone)->geometry();
        QVERIFY(!apps->geometry().intersects(done));
        for (int id :
             {ids::log_viewer::kChart, ids::log_viewer::kShowMonths, ids::log_viewer::kTotalTotal,
              ids::log_viewer::kShowHours, ids::log_viewer::kDataPlan})
            QVERIFY(!apps->geometry().intersects(viewer.control(id)->geometry()));
        viewer.show();
        QTimer::singleShot(0, [&] {
            auto* dlg = viewer.findChild<CAppsDlg*>();
            QVERIFY(dlg);
            QCOMPARE(dlg->view()->currentText(), QString("Day 3")); // today, not yet clicked
            dlg->accept();
        });
        apps->click();
    }
};

QTEST_MAIN(AppsDlgTest)
#include "apps_dlg_test.moc"
