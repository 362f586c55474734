#include "ui/dialogs/data_plan_dlg.h"

#include "app/global.h"
#include "support/fake_platform.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <functional>

namespace {

using namespace tn;
using tn::ui::CDataPlanDlg;

struct Rig {
    test::TzScope tz{"UTC0"};
    test::FakePlatform fake;
    PlatformServices os = fake.services();
    CGlobal global{os};
    test::FakeStatisticsOwner owner;

    Rig() {
        global.loadSettings();
        fake.clock.setLocal(2026, 2, 14, 12);
        owner.recordsValue.daysReceived[13][0] = 10ull << 30; // the 14th
        owner.recordsValue.daysReceived[30][0] = 5ull << 30;  // 31 January
    }
    static QString text(const CDataPlanDlg& d, int id) {
        return static_cast<QLabel*>(d.control(id))->text();
    }
};

} // namespace

class DataPlanDlgTest : public QObject {
    Q_OBJECT
private slots:
    void withoutAPlan_theFiguresSaySo_andEveryControlIsNamed() {
        Rig rig;
        CDataPlanDlg d(rig.global, rig.fake.clock, &rig.owner);
        QCOMPARE(d.windowTitle(), QString("Data plan"));
        for (const int id : {3010, 3011, 3012, 3013, 3014})
            QCOMPARE(Rig::text(d, id), QString("No plan set"));
        const struct {
            int id;
            const char* name;
        } expected[] = {{3001, "Allowance per plan month (GB)"},
                        {3002, "Traffic that counts"},
                        {3003, "Plan month starts on day"},
                        {3004, "Warning at (% of the allowance)"},
                        {3005, "Desktop notice at the warning and at 100%"},
                        {3011, "Used"},
                        {3014, "Projected at month end"},
                        {1, "Done"}};
        for (const auto& e : expected) {
            QWidget* w = d.control(e.id);
            QVERIFY2(w, qPrintable(QString::number(e.id)));
            QCOMPARE(w->accessibleName(), QString(e.name));
        }
        for (QWidget* w : d.findChildren<QWidget*>())
            if (!w->objectName().isEmpty())
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    }

    void editingThePlan_storesEachChangeAtOnce_andTheFiguresFollow() {
        Rig rig;
        CDataPlanDlg d(rig.global, rig.fake.clock, &rig.owner);
        auto* allowance = static_cast<QLineEdit*>(d.control(3001));
        QTest::keyClicks(allowance, "50");
        QCOMPARE(rig.global.PlanBytes, 50ull << 30);
        QCOMPARE(rig.fake.settings.getInt("PlanBytes").value_or(0), std::int64_t(50) << 30);
        // Plan month from the 1st: only the 14th counts.
        QCOMPARE(Rig::text(d, 3010), QString("2026-02-01 to 2026-02-28"));
        QCOMPARE(Rig::text(d, 3011), QString("10.0 GB (20%)"));
        QCOMPARE(Rig::text(d, 3012), QString("50.0 GB"));
        QCOMPARE(Rig::text(d, 3013), QString("15"));
        auto* day = static_cast<QLineEdit*>(d.control(3003));
        day->selectAll();
        QTest::keyClicks(day, "31");
        QCOMPARE(rig.global.PlanDay, 31);
        QCOMPARE(rig.fake.settings.getInt("PlanDay").value_or(0), 31);
        QCOMPARE(Rig::text(d, 3010), QString("2026-01-31 to 2026-02-27"));
        QCOMPARE(Rig::text(d, 3011), QString("15.0 GB (30%)"));
        QCOMPARE(Rig::text(d, 3013), QString("14"));
        // A choice made through the accessibility interface counts like a click.
        auto* counted = static_cast<QComboBox*>(d.control(3002));
        counted->setCurrentIndex(1);
        QCOMPARE(rig.global.PlanDown, 1);
        QCOMPARE(rig.fake.settings.getInt("PlanDown").value_or(0), 1);
        auto* notify = static_cast<QCheckBox*>(d.control(3005));
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(notify);
        QVERIFY(box && box->actionInterface());
        box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(rig.global.NotifyPlan, 1);
        QCOMPARE(rig.fake.settings.getInt("NotifyPlan").value_or(0), 1);
        // A value outside its range is not stored.
        day->selectAll();
        QTest::keyClicks(day, "0");
        QCOMPARE(rig.global.PlanDay, 31);
        allowance->clear();
        QCOMPARE(rig.global.PlanBytes, 0ull);
        QCOMPARE(Rig::text(d, 3011), QString("No plan set"));
    }

    // The window as a screen reader meets it: every node of its accessibility tree has a name,
    // and every value a text. Under a real display, TN_SCREENSHOT_DIR keeps a picture.
    void accessibilityTree_namesEveryNodeAndReadsEveryValue() {
        Rig rig;
        rig.global.PlanBytes = 50ull << 30;
        CDataPlanDlg d(rig.global, rig.fake.clock, &rig.owner);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&d);
        QVERIFY(root);
        QStringList walk;
        std::function<void(QAccessibleInterface*, int)> visit = [&](QAccessibleInterface* node,
                                                                    int depth) {
            const QString name = node->text(QAccessible::Name);
            const QString value = node->role() == QAccessible::StaticText
                                      ? node->text(QAccessible::Description)
                                      : node->text(QAccessible::Value);
            walk << QString(depth * 2, ' ') + QString::number(node->role()) + " \"" + name +
                        "\" = \"" + value + "\"";
            if (node->role() != QAccessible::Grouping)
                QVERIFY2(!name.isEmpty(), qPrintable(walk.last()));
            // A combo box's popup list is the toolkit's, named by the box.
            if (node->role() == QAccessible::ComboBox)
                return;
            for (int i = 0; i < node->childCount(); ++i)
                visit(node->child(i), depth + 1);
        };
        visit(root, 0);
        QVERIFY(walk.join('\n').contains("\"Used\""));
        auto* used = static_cast<QLabel*>(d.control(3011));
        QAccessibleInterface* usedNode = QAccessible::queryAccessibleInterface(used);
        QCOMPARE(usedNode->text(QAccessible::Name), QString("Used"));
        QCOMPARE(usedNode->text(QAccessible::Description), QString("10.0 GB (20%)"));
        static_cast<QLineEdit*>(d.control(3001))->setText("20");
        QCOMPARE(usedNode->text(QAccessible::Description), QString("10.0 GB (50%)"));
        if (const QByteArray dir = qgetenv("TN_SCREENSHOT_DIR"); !dir.isEmpty()) {
            d.grab().save(QString::fromLocal8Bit(dir) + "/data_plan.png");
            QFile tree(QString::fromLocal8Bit(dir) + "/data_plan_accessibility.txt");
            if (tree.open(QIODevice::WriteOnly))
                tree.write(walk.join('\n').toUtf8() + '\n');
        }
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    DataPlanDlgTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "data_plan_dlg_test.moc"
