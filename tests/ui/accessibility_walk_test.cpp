// Walks the accessibility tree of every window as a screen reader does and fails on a control
// without a name or a shown value that cannot be read as text.
#include "app/control_ids.h"
#include "app/global.h"
#include "fake_tray_shell.h"
#include "orchestration/statistics_owner.h"
#include "support/fake_platform.h"
#include "ui/dialogs/about_dlg.h"
#include "ui/dialogs/apps_dlg.h"
#include "ui/dialogs/help_dlg.h"
#include "ui/dialogs/log_viewer.h"
#include "ui/dialogs/netfalls_dlg.h"
#include "ui/dialogs/options_dlg.h"
#include "ui/main/tallynet_dlg.h"
#include "ui/widgets/screen_fit.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollArea>
#include <QTest>
#include <algorithm>

namespace {

using namespace tn;

// Roles a screen reader announces by name: a control of one of these without a name is read as
// "button" or "combo box" and nothing else.
bool needsName(QAccessible::Role role) {
    constexpr QAccessible::Role kNamed[] = {
        QAccessible::PushButton, QAccessible::CheckBox,     QAccessible::RadioButton,
        QAccessible::ComboBox,   QAccessible::EditableText, QAccessible::SpinBox,
        QAccessible::Slider,     QAccessible::ProgressBar,  QAccessible::StaticText,
        QAccessible::Table,      QAccessible::List,         QAccessible::Chart,
        QAccessible::Graphic,    QAccessible::ButtonMenu};
    return std::find(std::begin(kNamed), std::end(kNamed), role) != std::end(kNamed);
}

QString describe(QAccessibleInterface* a) {
    QObject* o = a->object();
    return QString("%1 '%2' (role %3)")
        .arg(o ? QString::fromLatin1(o->metaObject()->className()) : QString("?"),
             o ? o->objectName() : QString())
        .arg(static_cast<int>(a->role()));
}

// A shown text is readable when it is the name, or the value and the text of the control.
bool shownTextReadable(QAccessibleInterface* a, const QString& shown) {
    if (a->text(QAccessible::Name) == shown)
        return true;
    QAccessibleTextInterface* t = a->textInterface();
    return a->text(QAccessible::Value) == shown && t && t->text(0, t->characterCount()) == shown;
}

void walk(QAccessibleInterface* a, QStringList& faults, int depth = 0) {
    if (!a || depth > 8 || a->state().invisible)
        return;
    if (needsName(a->role()) && a->text(QAccessible::Name).trimmed().isEmpty())
        faults << "no name: " + describe(a);
    if (auto* label = qobject_cast<QLabel*>(a->object()); label && !label->text().isEmpty())
        if (!shownTextReadable(a, label->text()))
            faults << "shown text '" + label->text() + "' not readable: " + describe(a);
    if (auto* combo = qobject_cast<QComboBox*>(a->object())) {
        if (a->text(QAccessible::Name) == combo->currentText() && !combo->currentText().isEmpty())
            faults << "combo named by its entry: " + describe(a);
        if (a->text(QAccessible::Value) != combo->currentText())
            faults << "combo entry not its value: " + describe(a);
        if (!a->actionInterface() || !a->actionInterface()->actionNames().contains(
                                         QAccessibleActionInterface::showMenuAction()))
            faults << "combo list cannot be opened: " + describe(a);
    }
    for (int i = 0; i < a->childCount(); ++i)
        walk(a->child(i), faults, depth + 1);
}

QStringList faultsOf(QWidget* window) {
    window->show();
    QStringList faults;
    walk(QAccessible::queryAccessibleInterface(window), faults);
    return faults;
}

struct Rig {
    test::FakePlatform fake;
    test::FakeStatisticsOwner stats;
    std::unique_ptr<CGlobal> global;

    Rig() {
        fake.interfaces.count = 2;
        global = std::make_unique<CGlobal>(fake.services());
        global->loadSettings();
    }
    std::unique_ptr<ui::CTallynetDlg> mainWindow() {
        ui::MainWindowServices services;
        services.global = global.get();
        services.clock = &fake.clock;
        services.interfaces = &fake.interfaces;
        services.stats = &stats;
        services.trayShell = std::make_unique<test::FakeTrayShell>();
        auto dlg = std::make_unique<ui::CTallynetDlg>(std::move(services));
        dlg->initDialog();
        return dlg;
    }
};

} // namespace

class AccessibilityWalkTest : public QObject {
    Q_OBJECT
private slots:
    void everyWindow_everyControlNamed_everyShownValueReadable() {
        Rig rig;
        auto main = rig.mainWindow();
        QStringList faults = faultsOf(main.get());
        ui::COptions options({rig.global.get(), &rig.fake.clock, &rig.stats, nullptr});
        faults << faultsOf(&options);
        ui::CNetFalls outages(*rig.global, rig.fake.clock);
        faults << faultsOf(&outages);
        ui::CLogViewer viewer(*rig.global, rig.fake.clock, &rig.stats);
        faults << faultsOf(&viewer);
        ui::CHelp help({rig.fake.dir / "readme.doc"}, rig.fake.services().files);
        faults << faultsOf(&help);
        ui::CAboutDlg about("Tallynet 1.0.0.0");
        faults << faultsOf(&about);
        rig.stats.appsValue = AppRecords{};
        rig.stats.appsValue->days[0] = {{"curl", 1, 2}};
        ui::CAppsDlg apps(rig.fake.clock, &rig.stats, {false, 1, "Day 1"});
        faults << faultsOf(&apps);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // The tick rewrites the values every second; a screen reader must read the new one, not
    // the "0 kb/s" of the start.
    void mainWindow_valueFollowsTheTick() {
        Rig rig;
        auto main = rig.mainWindow();
        main->show();
        auto* speed = static_cast<QLabel*>(main->control(ids::main_dlg::kReceivedSpeed));
        const QString before = speed->text();
        rig.fake.interfaces.rows = {InterfaceRow{"eth0", 0, 0, 0}, InterfaceRow{"wlan0", 1, 1, 0}};
        rig.fake.clock.advance(1);
        main->onTick();
        rig.fake.interfaces.rows = {InterfaceRow{"eth0", 5 * 1024 * 1024, 4096, 0},
                                    InterfaceRow{"wlan0", 1, 1, 0}};
        rig.fake.clock.advance(1);
        main->onTick();
        QVERIFY(speed->text() != before);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(speed);
        QCOMPARE(a->text(QAccessible::Name), QString("Download speed"));
        QCOMPARE(a->text(QAccessible::Value), speed->text());
        QCOMPARE(a->textInterface()->text(0, a->textInterface()->characterCount()), speed->text());
    }

    // On a screen too low for them (768 pixels at a scale of 2 leaves 384) the options and the
    // viewer scroll, so OK and Done stay reachable, and every control still works and reads.
    void smallScreen_tallDialogsScroll_buttonsReachable() {
        Rig rig;
        const QRect small(0, 0, 800, 384);
        ui::COptions options({rig.global.get(), &rig.fake.clock, &rig.stats, nullptr});
        ui::CLogViewer viewer(*rig.global, rig.fake.clock, &rig.stats);
        const std::pair<QDialog*, QWidget*> dialogs[] = {
            {&options, options.control(ids::options::kOk)}, {&viewer, viewer.control(1)}};
        for (const auto& [dialog, button] : dialogs) {
            const int frame = dialog == &options ? 30 : 0;
            QVERIFY(ui::fitDialogContent(dialog, frame, small));
            QVERIFY(!ui::fitDialogContent(dialog, frame, small)); // once
            QCOMPARE(dialog->height(), small.height() - frame);
            dialog->show();
            auto* scroll = dialog->findChild<QScrollArea*>();
            QVERIFY(scroll);
            scroll->ensureWidgetVisible(button);
            const QRect inDialog(button->mapTo(dialog, QPoint(0, 0)), button->size());
            QVERIFY2(dialog->rect().contains(inDialog), dialog->metaObject()->className());
            QStringList faults;
            walk(QAccessible::queryAccessibleInterface(dialog), faults);
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        }
        // The boxes still store what they show.
        auto* winPcap = static_cast<QCheckBox*>(options.control(ids::options::kWinPCap));
        winPcap->click();
        QCOMPARE(rig.global->WinPCap != 0, winPcap->isChecked());
        QVERIFY(options.control(ids::options::kLanOnly)->isEnabled() == winPcap->isChecked());
        // A screen that holds it leaves the dialog as it is.
        ui::COptions roomy({rig.global.get(), &rig.fake.clock, &rig.stats, nullptr});
        QVERIFY(!ui::fitDialogContent(&roomy, 30, QRect(0, 0, 1280, 800)));
        QVERIFY(!roomy.findChild<QScrollArea*>());
    }
};

QTEST_MAIN(AccessibilityWalkTest)
#include "accessibility_walk_test.moc"
