#include "ui/dialogs/options_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "fake_tray_shell.h"
#include "orchestration/statistics_owner.h"
#include "stats/probe.h"
#include "support/fake_clock.h"
#include "support/fake_icmp.h"
#include "support/fake_platform.h"
#include "support/recording_settings.h"
#include "ui/main/tallynet_dlg.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>

namespace {

using namespace tn;
namespace id = tn::ids::options;
using ui::COptions;

struct Rig {
    test::RecordingSettings store;
    test::FakeClock clock;
    test::FakeIcmpFactory icmp{clock};
    test::FakeStatisticsOwner stats;
    std::unique_ptr<CGlobal> global;
    std::unique_ptr<CProbe> probe;

    explicit Rig(const std::function<void(test::RecordingSettings&)>& settings = {}) {
        if (settings)
            settings(store);
        PlatformServices os;
        os.settings = &store;
        os.clock = &clock;
        global = std::make_unique<CGlobal>(os);
        global->loadSettings();
        probe = std::make_unique<CProbe>(&icmp, clock);
        store.writes.clear();
    }
    std::unique_ptr<COptions> open(bool withStats = true) {
        return std::make_unique<COptions>(
            ui::OptionsServices{global.get(), &clock, withStats ? &stats : nullptr, probe.get()});
    }
};

template <class T> T* ctl(COptions& d, int i) {
    return static_cast<T*>(d.control(i));
}

QMessageBox* findBox(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w);
            box && box->objectName() == name && box->isVisible())
            return box;
    return nullptr;
}

void closeBoxes() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w))
            box->close();
}

} // namespace

class OptionsDlgTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeBoxes(); }

    void layout_everyControlHasItsIdentifierAndAnAccessibleName() {
        Rig rig;
        auto dlg = rig.open();
        QCOMPARE(dlg->windowTitle(), QString("Tallynet Options"));
        QCOMPARE(dlg->size(), QSize(222, 496)); // 148 x 305 dialog units at 96 dpi
        const int ids[] = {1,    1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1042, 1043, 1044,
                           1045, 1049, 1050, 1051, 1052, 1053, 1054, 1082, 1083, 1084, 1085};
        for (int i : ids) {
            QWidget* w = dlg->control(i);
            QVERIFY2(w, qPrintable(QString::number(i)));
            QCOMPARE(w->objectName(), QString::number(i));
        }
        for (QWidget* w : dlg->findChildren<QWidget*>()) {
            if (!w->isWidgetType() || w->parentWidget() != dlg.get())
                continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            QVERIFY(a);
            QVERIFY2(!a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
        }
        QCOMPARE(ctl<QLineEdit>(*dlg, id::kFallSecs)->accessibleName(),
                 QString("If no traffic more than : sec's"));
        QCOMPARE(ctl<QCheckBox>(*dlg, id::kWinPCap)->text(),
                 QString("WinPCap driver (else reported by OS)"));
        QVERIFY(ctl<QPushButton>(*dlg, id::kOk)->isDefault());
    }

    void speedBox_typing12_writes1Then12_andHoldsFiveDigits() {
        Rig rig;
        auto dlg = rig.open();
        auto* speed = ctl<QLineEdit>(*dlg, id::kConSpeed);
        QCOMPARE(speed->text(), QString("128"));
        QCOMPARE(speed->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        QCOMPARE(rig.store.writes, std::vector<std::string>{"PingHost=0"}); // written back
        rig.store.writes.clear();
        speed->selectAll();
        QTest::keyClick(speed, Qt::Key_Delete);
        QTest::keyClicks(speed, "12");
        QCOMPARE(rig.store.writes,
                 (std::vector<std::string>{"ConSpeed=0", "ConSpeed=1", "ConSpeed=12"}));
        QCOMPARE(rig.global->ConSpeed, 12u);
        QTest::keyClicks(speed, "34x567");
        QCOMPARE(speed->text(), QString("12345"));
        QCOMPARE(rig.global->ConSpeed, 12345u);
    }

    void winPcapBox_enablesItsTwoDependents_andAsksForARestart() {
        Rig rig;
        auto dlg = rig.open();
        QVERIFY(!dlg->control(id::kIncremtotal)->isEnabled());
        QVERIFY(!dlg->control(id::kLanOnly)->isEnabled());
        QVERIFY(!dlg->control(id::kHost)->isEnabled());
        QVERIFY(!dlg->control(id::kFallSecs)->isEnabled());
        ctl<QCheckBox>(*dlg, id::kWinPCap)->click();
        QVERIFY(dlg->control(id::kIncremtotal)->isEnabled());
        QVERIFY(dlg->control(id::kLanOnly)->isEnabled());
        QCOMPARE(rig.global->RestartFlag.load(), 1);
        QCOMPARE(rig.store.ints["WinPCap"], 1);
        ctl<QCheckBox>(*dlg, id::kWinPCap)->click();
        QVERIFY(!dlg->control(id::kIncremtotal)->isEnabled());
        QVERIFY(!dlg->control(id::kLanOnly)->isEnabled());
        ctl<QCheckBox>(*dlg, id::kPingHost)->click();
        QVERIFY(dlg->control(id::kHost)->isEnabled() && dlg->control(id::kTest)->isEnabled());
        ctl<QCheckBox>(*dlg, id::kLogFalls)->click();
        QVERIFY(dlg->control(id::kFallSecs)->isEnabled());
    }

    // A screen reader or voice control toggles through the accessibility action, which emits
    // no click; the keyboard's Space does click. Either way the setting is stored at once and
    // its dependants follow.
    void everyBox_storesAndEnablesHoweverItIsToggled() {
        struct Row {
            int box;
            const char* key;
            std::vector<int> dependants;
        };
        const Row rows[] = {
            {id::kWinPCap, "WinPCap", {id::kIncremtotal, id::kLanOnly}},
            {id::kIncremtotal, "Incremtotal", {}},
            {id::kLanOnly, "LanOnly", {}},
            {id::kRunAtStartUp, "RunAtStartUp", {}},
            {id::kStartMin, "StartMin", {}},
            {id::kAutohide, "Autohide", {}},
            {id::kConfirmExit, "ConfirmExit", {}},
            {id::kLogFalls, "LogFalls", {id::kFallSecs}},
            {id::kPingHost, "PingHost", {id::kHost, id::kTest}},
            {id::kCustField, "CustField", {id::kCustName, id::kCustPort}},
        };
        for (const bool byAccessibility : {true, false}) {
            for (const Row& row : rows) {
                const QString what = QString("%1 %2").arg(row.key).arg(
                    byAccessibility ? "accessibility action" : "Space");
                // Opened over set boxes (WinPCap also lets its two dependants be toggled): the
                // dialog's own ticks store nothing.
                Rig rig([](test::RecordingSettings& s) {
                    for (const char* k : {"WinPCap", "Incremtotal", "StartMin", "LogFalls"})
                        s.ints[k] = 1;
                });
                auto dlg = rig.open();
                QCOMPARE(rig.store.writes, std::vector<std::string>{"PingHost=0"});
                rig.store.writes.clear();
                auto* box = ctl<QCheckBox>(*dlg, row.box);
                const bool before = box->isChecked();
                if (byAccessibility) {
                    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
                    QVERIFY2(a && a->actionInterface(), qPrintable(what));
                    a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
                } else {
                    QTest::keyClick(box, Qt::Key_Space);
                }
                QVERIFY2(box->isChecked() != before, qPrintable(what));
                const std::string expected =
                    std::string(row.key) + "=" + (box->isChecked() ? "1" : "0");
                QVERIFY2(std::find(rig.store.writes.begin(), rig.store.writes.end(), expected) !=
                             rig.store.writes.end(),
                         qPrintable(what));
                for (int d : row.dependants)
                    QVERIFY2(dlg->control(d)->isEnabled() == box->isChecked(), qPrintable(what));
            }
        }
    }

    void hostCombo_aStoredHostThatIsNoPreset_isAddedAtTheEndAndSelected() {
        Rig rig([](test::RecordingSettings& s) { s.strings["HostToPing"] = "198.18.0.7"; });
        auto dlg = rig.open();
        auto* host = ctl<QComboBox>(*dlg, id::kHost);
        QCOMPARE(host->count(), 5);
        QCOMPARE(host->currentIndex(), 4);
        QCOMPARE(host->currentText(), QString("198.18.0.7"));
        QVERIFY(rig.store.writes.empty() ||
                rig.store.writes == std::vector<std::string>{"PingHost=0"});
        host->setCurrentIndex(1); // a choice from the list is stored at once
        QCOMPARE(rig.global->HostToPing, std::string("dns.google"));
        host->setEditText("198.18.0.9");
        QCOMPARE(rig.store.strings["HostToPing"], std::string("198.18.0.9"));
    }

    void outageSeconds_zeroShowsTwenty_andAnEditIsWrittenWhenTheDialogCloses() {
        Rig rig([](test::RecordingSettings& s) { s.ints["FallSecs"] = 0; });
        auto dlg = rig.open();
        auto* secs = ctl<QLineEdit>(*dlg, id::kFallSecs);
        QCOMPARE(secs->text(), QString("20"));
        QCOMPARE(rig.global->FallSecs, 20);
        QCOMPARE(rig.store.ints["FallSecs"], 0);
        secs->setEnabled(true);
        secs->selectAll();
        QTest::keyClicks(secs, "35");
        dlg->reject();
        QCOMPARE(rig.global->FallSecs, 35);
        QCOMPARE(rig.store.ints["FallSecs"], 35);
    }

    void customField_cancelKeepsTheFieldInMemory_okChecksThePorts() {
        Rig rig;
        {
            auto dlg = rig.open();
            ctl<QCheckBox>(*dlg, id::kCustField)->click();
            QVERIFY(dlg->control(id::kCustName)->isEnabled());
            dlg->reject();
        }
        QCOMPARE(rig.store.ints["CustField"], 1);
        QCOMPARE(rig.global->CustField, 0);

        auto dlg = rig.open();
        QVERIFY(ctl<QCheckBox>(*dlg, id::kCustField)->isChecked() == false); // from memory
        ctl<QCheckBox>(*dlg, id::kCustField)->click();
        ctl<QLineEdit>(*dlg, id::kCustName)->setText("Rsync");
        ctl<QLineEdit>(*dlg, id::kCustPort)->setText("873,,22");
        dlg->show();
        ctl<QPushButton>(*dlg, id::kOk)->click();
        QMessageBox* box = findBox("invalidCustom");
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Invalid Custom port!"));
        QCOMPARE(box->windowTitle(), QString("Error"));
        QVERIFY(dlg->isVisible());
        QCOMPARE(ctl<QLineEdit>(*dlg, id::kCustPort)->text(), QString("873,,22"));
        box->close();
        ctl<QLineEdit>(*dlg, id::kCustName)->clear();
        ctl<QPushButton>(*dlg, id::kOk)->click();
        QVERIFY(findBox("invalidCustom"));
        QCOMPARE(findBox("invalidCustom")->text(), QString("Invalid Custom Field name!"));
        closeBoxes();
        ctl<QLineEdit>(*dlg, id::kCustName)->setText("Rsync");
        ctl<QLineEdit>(*dlg, id::kCustPort)->setText("873, 22");
        ctl<QPushButton>(*dlg, id::kOk)->click();
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
        QCOMPARE(rig.global->CustField, 1);
        QCOMPARE(rig.global->customPorts().ports, (std::vector<std::uint16_t>{873, 22}));
        QCOMPARE(rig.store.strings["CustPort1"], std::string("873, 22"));
    }

    void resetCustomTraffic_clearsCategorySeven_andTellsEvenWithoutStatistics() {
        Rig rig;
        for (bool withStats : {true, false}) {
            auto dlg = rig.open(withStats);
            dlg->show();
            ctl<QPushButton>(*dlg, id::kResetCustom)->click();
            QMessageBox* box = findBox("customCleared");
            QVERIFY(box);
            QCOMPARE(box->text(), QString("Traffic for the custom field cleared!"));
            QCOMPARE(box->windowTitle(), QString("Info"));
            QCOMPARE(box->icon(), QMessageBox::Information);
            closeBoxes();
        }
        QCOMPARE(std::count(rig.stats.calls.begin(), rig.stats.calls.end(), "clear 7"), 1);
    }

    void test_reportsInItsOwnBox_withoutTheDialogWaiting() {
        Rig rig([](test::RecordingSettings& s) {
            s.ints["PingHost"] = 1;
            s.strings["HostToPing"] = "198.18.0.1";
        });
        rig.icmp.script.openError = EPERM;
        auto dlg = rig.open();
        ctl<QPushButton>(*dlg, id::kTest)->click();
        dlg.reset(); // the result may come after the options are gone
        QTRY_VERIFY(findBox("pingResult"));
        QMessageBox* box = findBox("pingResult");
        QCOMPARE(box->windowTitle(), QString("Tallynet ping utility"));
        QVERIFY(box->text().startsWith("Failed in ping specified host, GetLastError returns: 1 "));
        QCOMPARE(rig.icmp.resolvedHosts(), std::vector<std::string>{"198.18.0.1"});
    }

    void test_stillRunningWhenEverythingCloses_isSafe() {
        Rig rig([](test::RecordingSettings& s) {
            s.ints["PingHost"] = 1;
            s.strings["HostToPing"] = "198.18.0.2";
        });
        rig.icmp.script.blockUntilStop = true;
        auto dlg = rig.open();
        ctl<QPushButton>(*dlg, id::kTest)->click();
        QTRY_COMPARE(rig.icmp.resolvedHosts().size(), std::size_t(1));
        QCOMPARE(rig.probe->running(), std::size_t(1));
        dlg.reset();
        rig.probe.reset(); // the program ends: the wait is cancelled and nothing is shown
        QCoreApplication::processEvents();
        QVERIFY(!findBox("pingResult"));
    }

    void mainWindow_optionsCommand_rescalesTheGraphOnlyWhenTheSpeedChanged() {
        Rig rig;
        test::FakeInterfaceTable table;
        table.set(0, 0);
        ui::MainWindowServices services;
        services.global = rig.global.get();
        services.clock = &rig.clock;
        services.interfaces = &table;
        services.stats = &rig.stats;
        services.icmp = &rig.icmp;
        services.trayShell = std::make_unique<test::FakeTrayShell>();
        ui::CTallynetDlg main(std::move(services));
        main.initDialog();
        QCOMPARE(main.graph()->model().fixedMaximum(), 128.0 * 1024 / 8);

        auto runOptions = [&](const QString& speed) {
            QTimer::singleShot(0, &main, [speed] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* o = qobject_cast<COptions*>(w); o && o->isVisible()) {
                        if (!speed.isNull())
                            static_cast<QLineEdit*>(o->control(id::kConSpeed))->setText(speed);
                        o->reject();
                    }
            });
            static_cast<QPushButton*>(main.control(1019))->click();
        };
        runOptions(QString());
        QCOMPARE(main.graph()->model().fixedMaximum(), 128.0 * 1024 / 8);
        runOptions("256");
        QCOMPARE(rig.global->ConSpeed, 256u);
        QCOMPARE(main.graph()->model().fixedMaximum(), 32768.0);
        main.shutdown();
    }
};

QTEST_MAIN(OptionsDlgTest)
#include "options_dlg_test.moc"
