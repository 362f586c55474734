#include "ui/dialogs/log_viewer.h"

#include "app/global.h"
#include "support/fake_platform.h"
#include "ui/dialogs/ns_chart_ctrl.h"
#include "ui/widgets/plain_label.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

namespace {

using namespace tn;
using tn::ui::CLogViewer;
using tn::ui::CNSChartCtrl;

struct Rig {
    test::TzScope tz{"CET-1CEST,M3.5.0,M10.5.0/3"};
    test::FakeClock clock;
    CGlobal global{PlatformServices{}};
    test::FakeStatisticsOwner owner;

    Rig() {
        global.loadSettings();
        clock.setLocal(2026, 5, 3, 21, 15); // after a 30-day April
        for (std::size_t d = 0; d < 31; ++d) {
            owner.recordsValue.daysSent[d][0] = 1000 * (d + 1);
            owner.recordsValue.daysReceived[d][3] = 250000 * (d + 1);
        }
        owner.recordsValue.monthsSent[4][0] = 5u << 20;
        owner.recordsValue.monthsReceived[3][5] = 3u << 30;
    }
    static QString text(const CLogViewer& v, int id) {
        auto* l = qobject_cast<QLabel*>(v.control(id));
        return l ? l->text() : QString("<none>");
    }
    // The middle of bar `index`'s label, where a user would click.
    static QPoint labelPoint(CNSChartCtrl* chart, int index) {
        const ChartLayout lay = chart->model().layout(chart->width(), chart->height());
        const ChartRect& r = lay.bars.at(static_cast<std::size_t>(index)).labelRect;
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
};

} // namespace

class LogViewerTest : public QObject {
    Q_OBJECT
private slots:
    void controls_carryTheirIdentifiersAndNamesAScreenReaderCanRead() {
        Rig rig;
        rig.global.CustField = 1;
        rig.global.CustName1 = "Games";
        CLogViewer v(rig.global, rig.clock, &rig.owner);
        const struct {
            int id;
            const char* name;
        } expected[] = {{1057, "Web Upload"},
                        {1079, "Ftp Download"},
                        {1065, "Filesharing Total"},
                        {1082, "Games Upload"},
                        {1086, "Games"},
                        {1077, "TOTAL Total"},
                        {1081, "Show months"},
                        {1, "Done"},
                        {1055, "Traffic chart"}};
        for (const auto& e : expected) {
            QWidget* w = v.control(e.id);
            QVERIFY2(w, qPrintable(QString::number(e.id)));
            QCOMPARE(w->objectName(), QString::number(e.id));
            QCOMPARE(w->accessibleName(), QString(e.name));
        }
        // 27 value cells, the custom row's name, the chart, the box, "Done" and "Applications".
        int numbered = 0;
        for (QWidget* w : v.findChildren<QWidget*>()) {
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->metaObject()->className()));
            numbered += !w->objectName().isEmpty();
        }
        QCOMPARE(numbered, 34); // and the programs button, the hours box and the plan button
        QCOMPARE(v.control(1091)->accessibleName(), QString("Applications"));
        QCOMPARE(v.control(1201)->accessibleName(), QString("Data plan"));
        QCOMPARE(v.control(1200)->accessibleName(), QString("Show hours"));
        QCOMPARE(static_cast<ui::CPlainLabel*>(v.control(1075))->textColor(), QColor(215, 0, 21));
        QCOMPARE(static_cast<ui::CPlainLabel*>(v.control(1076))->textColor(), QColor(62, 128, 21));
        QCOMPARE(v.palette().color(QPalette::Window), QColor(70, 100, 200));
    }

    void opening_showsTodayFromOneSnapshot_andAClickOnALabelTitlesThatDay() {
        Rig rig;
        CLogViewer v(rig.global, rig.clock, &rig.owner);
        v.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v));
        CNSChartCtrl* chart = v.chart();
        QCOMPARE(rig.owner.snapshots, 1);
        QCOMPARE(int(chart->model().count()), 31);
        QCOMPARE(chart->selectedIndex(), 2);
        QCOMPARE(chart->windowTitle(), QString("Today"));
        QCOMPARE(Rig::text(v, 1057), QString("2.93 KB"));   // 3000 B of web upload
        QCOMPARE(Rig::text(v, 1064), QString("732.42 KB")); // 750000 B of file sharing
        QCOMPARE(Rig::text(v, 1082), QString("..."));       // no custom category set up

        QSignalSpy clicks(chart, &CNSChartCtrl::clicked);
        const QPoint p = Rig::labelPoint(chart, 14);
        QTest::mouseMove(chart, p);
        QCOMPARE(chart->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(chart, Qt::LeftButton, {}, p);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks[0][0].toInt(), 14);
        QCOMPARE(clicks[0][1].toString(), QString("15"));
        QCOMPARE(clicks[0][2].toDouble(), 15000.0 + 3750000.0);
        QCOMPARE(chart->windowTitle(), QString("Wednesday, April 15, 2026"));
        QCOMPARE(chart->accessibleDescription(), chart->windowTitle());
        QCOMPARE(Rig::text(v, 1057), QString("14.65 KB"));
        QCOMPARE(rig.owner.snapshots, 2);

        QTest::mouseMove(chart, QPoint(10, 10)); // the title, no bar
        QCOMPARE(chart->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(chart, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(clicks.last()[0].toInt(), -1);
        QCOMPARE(chart->windowTitle(), QString("Wednesday, April 15, 2026"));
        QTest::keyClick(chart, Qt::Key_Right); // the keyboard chooses bars as well
        QTest::keyClick(chart, Qt::Key_Right);
        QCOMPARE(chart->windowTitle(), QString("Saturday, May 02, 2026"));
        QTest::keyClick(chart, Qt::Key_End);
        QCOMPARE(chart->windowTitle(), QString("Sunday, May 31, 2026"));
    }

    void showMonths_switchesTheChartAndKeepsTheMonthTitleOnTheWayBack() {
        Rig rig;
        CLogViewer v(rig.global, rig.clock, &rig.owner);
        auto* box = static_cast<QCheckBox*>(v.control(1081));
        box->click();
        QCOMPARE(int(v.chart()->model().count()), 12);
        QCOMPARE(v.chart()->selectedIndex(), 4);
        QCOMPARE(v.chart()->windowTitle(), QString("May  , 2026"));
        QCOMPARE(Rig::text(v, 1057), QString("5.00 MB"));
        QTest::mouseClick(v.chart(), Qt::LeftButton, {}, Rig::labelPoint(v.chart(), 3));
        QCOMPARE(v.chart()->windowTitle(), QString("April  , 2026"));
        QCOMPARE(Rig::text(v, 1073), QString("3.00 GB"));
        box->click();
        QCOMPARE(int(v.chart()->model().count()), 31);
        QCOMPARE(v.chart()->windowTitle(), QString("April  , 2026"));
        QCOMPARE(Rig::text(v, 1057), QString("2.93 KB"));
    }

    void showHours_showsFortyEightHoursInTheSameTable_andLeavesTheOtherControlsWhereTheyWere() {
        Rig rig;
        // 21:00 today and 22:00 yesterday (CEST, UTC+2).
        const std::int64_t nine = rig.clock.fromLocal(LocalTime{2026, 5, 3, 21, 0, 0, -1}).value();
        for (const std::int64_t start : {nine, nine - 23 * 3600}) {
            HourRecord& h = rig.owner.hoursValue[static_cast<std::size_t>(hourSlot(start))];
            h.start = start;
            h.sent[0] = start == nine ? 2048 : 1024;
            h.received[4] = 3u << 20;
        }
        CLogViewer v(rig.global, rig.clock, &rig.owner);
        const QRect months = v.control(1081)->geometry();
        const QRect done = v.control(1)->geometry();
        const QRect chartRect = v.chart()->geometry();
        auto* hours = static_cast<QCheckBox*>(v.control(1200));
        auto* monthBox = static_cast<QCheckBox*>(v.control(1081));
        monthBox->click();
        hours->click();
        QVERIFY(!monthBox->isChecked()); // one view at a time
        QCOMPARE(int(v.chart()->model().count()), 48);
        QCOMPARE(v.chart()->selectedIndex(), 47);
        QCOMPARE(v.chart()->windowTitle(), QString("Sunday, May 03, 2026  21:00 - 22:00"));
        QCOMPARE(Rig::text(v, 1057), QString("2.00 KB"));
        QCOMPARE(Rig::text(v, 1070), QString("3.00 MB"));
        QCOMPARE(Rig::text(v, 1077), QString("3.00 MB"));
        QTest::mouseClick(v.chart(), Qt::LeftButton, {}, Rig::labelPoint(v.chart(), 24));
        QCOMPARE(v.chart()->windowTitle(), QString("Saturday, May 02, 2026  22:00 - 23:00"));
        QCOMPARE(Rig::text(v, 1057), QString("1.00 KB"));
        QTest::keyClick(v.chart(), Qt::Key_Left);
        QCOMPARE(Rig::text(v, 1057), QString("0 B"));
        QCOMPARE(v.control(1081)->geometry(), months);
        QCOMPARE(v.control(1)->geometry(), done);
        QCOMPARE(v.chart()->geometry(), chartRect);
        monthBox->click(); // back to the months, which the day records fill
        QVERIFY(!hours->isChecked());
        QCOMPARE(int(v.chart()->model().count()), 12);
        QCOMPARE(Rig::text(v, 1057), QString("5.00 MB"));
        monthBox->click();
        hours->click();
        hours->click();
        QCOMPARE(int(v.chart()->model().count()), 31);
        QCOMPARE(Rig::text(v, 1057), QString("2.93 KB"));
    }

    void withoutStatisticsOwner_theChartSaysSoAndTheCellsWait() {
        Rig rig;
        CLogViewer v(rig.global, rig.clock, nullptr);
        static_cast<QCheckBox*>(v.control(1081))->click();
        QCOMPARE(int(v.chart()->model().count()), 0);
        QCOMPARE(Rig::text(v, 1077), QString("..."));
        QCOMPARE(v.chart()->windowTitle(), QString("Today"));
    }

    void chartSurface_followsTheWidgetSizeAndPixelRatio() {
        CNSChartCtrl chart;
        chart.setChartPalette(2);
        chart.setChartKind(ChartModel::kDrawBars);
        chart.setWindowTitle("Today");
        for (int d = 1; d <= 31; ++d)
            chart.addValue(d == 12 ? 5000.0 : 0.0, QString::number(d), false);
        const int r = 2; // main() runs these tests on a screen of twice the density
        QCOMPARE(chart.devicePixelRatioF(), qreal(r));
        chart.resize(200, 100);
        QCOMPARE(chart.renderSurface().size(), QSize(200 * r, 100 * r));
        chart.resize(408, 182);
        const QImage img = chart.renderSurface().toImage();
        QCOMPARE(img.size(), QSize(408 * r, 182 * r));
        QCOMPARE(img.pixelColor(166 * r, 35 * r), QColor(0, 255, 255)); // the 12th at the top
        QCOMPARE(img.pixelColor(10 * r, 100 * r), QColor(200, 200, 230));
        bool redTitle = false;
        for (int x = 150 * r; x < 260 * r; ++x)
            for (int y = 0; y < 14 * r; ++y)
                redTitle = redTitle || img.pixelColor(x, y) == QColor(255, 0, 0);
        QVERIFY(redTitle);
        chart.setChartPalette(0);
        QCOMPARE(chart.renderSurface().toImage().pixelColor(166 * r, 35 * r), QColor(Qt::white));
    }
};

int main(int argc, char** argv) {
    // A high-density screen: the chart must fill it sharply, and nothing else may change.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    LogViewerTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "log_viewer_test.moc"
