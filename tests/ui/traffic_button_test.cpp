// MFTrafficButton painted into images on the offscreen platform.
#include "ui/main/traffic_button.h"

#include "app/global.h"
#include "support/fake_platform.h"

#include <QMenu>
#include <QPainter>
#include <QtTest/QtTest>

#include <memory>
#include <set>
#include <vector>

using namespace tn;

namespace {

constexpr int kWidth = 180; // 60 columns
constexpr int kHeight = 40;
const QColor kBlack(0, 0, 0);

// Gradient colour of row y for a 40-pixel control: red falls by 255 / 40 per row.
QColor gradientAt(int y) {
    return QColor(static_cast<int>(255 - y * 6.375), 64, 150);
}

} // namespace

class TrafficButtonTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::FakePlatform> m_fake;
    std::unique_ptr<CGlobal> m_global;

    CGlobal& load(const std::string& conf) {
        m_global.reset();
        m_fake = std::make_unique<test::FakePlatform>();
        m_fake->settings.text = "[SetariGenerale]\n" + conf;
        m_global = std::make_unique<CGlobal>(m_fake->services());
        m_global->loadSettings();
        return *m_global;
    }

    // A control configured the way the main window does it.
    std::unique_ptr<MFTrafficButton> makeGraph(const std::string& conf) {
        CGlobal& g = load(conf);
        auto graph = std::make_unique<MFTrafficButton>(g);
        graph->resize(kWidth, kHeight);
        graph->attach();
        graph->setScalingMode(g.TMaxScale);
        graph->restorePinPoint(g.PinPoint);
        graph->setFixedMaximum(static_cast<double>((g.ConSpeed << 10) >> 3));
        return graph;
    }

    // The values end up in the rightmost columns, oldest first.
    static void pushBars(MFTrafficButton& graph, const std::vector<std::uint32_t>& values) {
        for (std::uint32_t v : values) {
            graph.setCurrentIncoming(v);
            graph.setCurrentOutgoing(0);
            graph.sampleTick();
        }
        graph.setCurrentIncoming(0);
        graph.sampleTick();
    }

    // One frame, as the repaint timer draws it (an expose only shows the frame again).
    static QImage paint(MFTrafficButton& graph) {
        QImage img(graph.size(), QImage::Format_RGB32);
        QPainter p(&img);
        graph.renderFrame(p);
        return img;
    }

    static std::set<int> gridColumns(const QImage& img, int row) {
        std::set<int> xs;
        for (int x = 0; x < img.width(); ++x)
            if (img.pixelColor(x, row) == MFTrafficButton::kGridColour)
                xs.insert(x);
        return xs;
    }

private slots:
    void fullBar_hasMarkerOnTop_gradientFixedToTheControl_andBlackGapColumn() {
        // Fixed scale of 1024 B/s (ConSpeed 8): 1024 is a full bar, 512 half of it.
        auto graph = makeGraph("TMaxScale=0\nConSpeed=8\nGNfoMode=0\n");
        pushBars(*graph, {1024, 512});
        const QImage img = paint(*graph);
        const int full = 58 * 3;
        const int half = 59 * 3;
        QCOMPARE(img.pixelColor(full, 0), MFTrafficButton::kMarkerColour);
        QCOMPARE(img.pixelColor(full + 1, 0), gradientAt(0));
        QCOMPARE(img.pixelColor(full + 1, 5), QColor(223, 64, 150));
        QCOMPARE(img.pixelColor(full, 39), QColor(6, 64, 150));
        QCOMPARE(img.pixelColor(full + 2, 20), kBlack);
        QVERIFY(img.pixelColor(full + 2, 20) != gradientAt(20));
        // A half bar starts at row 20 and shows the same colours as the full bar there.
        QCOMPARE(img.pixelColor(half, 20), MFTrafficButton::kMarkerColour);
        QCOMPARE(img.pixelColor(half + 1, 21), gradientAt(21));
        QCOMPARE(img.pixelColor(half + 1, 19), MFTrafficButton::kBackgroundColour);
        // Columns without traffic show the background.
        QCOMPARE(img.pixelColor(3 * 5 + 1, 35), MFTrafficButton::kBackgroundColour);
    }

    void barAboveMaximum_isCutAtTheTopEdge() {
        auto graph = makeGraph("TMaxScale=0\nConSpeed=8\nGNfoMode=0\n");
        pushBars(*graph, {4096});
        const QImage img = paint(*graph);
        const int x = 59 * 3;
        QCOMPARE(img.pixelColor(x, 0), gradientAt(0)); // no marker: the top lies above
        QCOMPARE(img.pixelColor(x + 1, 0), gradientAt(0));
        QCOMPARE(img.pixelColor(x, 39), QColor(6, 64, 150));
    }

    void zeroMaximum_drawsEveryPositiveValueFullHeight() {
        auto graph = makeGraph("TMaxScale=0\nConSpeed=0\nGNfoMode=0\n");
        pushBars(*graph, {1, 0});
        const QImage img = paint(*graph);
        QCOMPARE(img.pixelColor(58 * 3, 0), MFTrafficButton::kMarkerColour);
        QCOMPARE(img.pixelColor(59 * 3, 39), MFTrafficButton::kBackgroundColour);
    }

    void grid_movesOnePixelLeftPerPaint() {
        auto graph = makeGraph("GNfoMode=0\n");
        // Row 30 lies between the horizontal lines at 38 and 28. The first paint draws at offset
        // 0, the next at 10 (the same lines but the one at the left edge), then 9, 8 ...
        const auto every10From = [](int first) {
            std::set<int> xs;
            for (int x = first; x < kWidth; x += 10)
                xs.insert(x);
            return xs;
        };
        QCOMPARE(gridColumns(paint(*graph), 30), every10From(0));
        QCOMPARE(gridColumns(paint(*graph), 30), every10From(10));
        QCOMPARE(gridColumns(paint(*graph), 30), every10From(9));
        QCOMPARE(gridColumns(paint(*graph), 30), every10From(8));
        const QImage img = paint(*graph);
        QCOMPARE(img.pixelColor(33, 38), MFTrafficButton::kGridColour);
        QCOMPARE(img.pixelColor(33, 8), MFTrafficButton::kGridColour);
        QCOMPARE(img.pixelColor(33, 9), MFTrafficButton::kBackgroundColour);
    }

    void infoText_showsMarkerColourOnBlack() {
        auto graph = makeGraph("GNfoMode=0\n");
        pushBars(*graph, {2048, 1000});
        QVERIFY(!graph->model().infoText().empty());
        const QImage img = paint(*graph);
        int marker = 0;
        int black = 0;
        int other = 0;
        for (int y = 6; y < 14; ++y) {
            for (int x = 5; x < 45; ++x) {
                const QColor c = img.pixelColor(x, y);
                // Glyph edges are smoothed towards black: cyan of any strength counts.
                if (c.red() == 0 && c.green() == c.blue() && c.green() > 128)
                    ++marker;
                else if (c == kBlack)
                    ++black;
                else if (c == MFTrafficButton::kBackgroundColour ||
                         c == MFTrafficButton::kGridColour)
                    ++other;
            }
        }
        QVERIFY2(marker > 5, "the label is drawn in the marker colour");
        QVERIFY2(black > marker, "on a black box");
        QCOMPARE(other, 0);
        QCOMPARE(img.pixelColor(5, 5), kBlack);
    }

    void infoMode_drawsTheCrosshairAtThePin_onlyWhenOn() {
        auto graph = makeGraph("GNfoMode=1\nPinPoint=" + std::to_string((41 << 16) + 30) + "\n");
        QVERIFY(graph->model().pinLocked());
        QImage img = paint(*graph);
        // The time label sits at the left edge above the line, the value label top right.
        QCOMPARE(img.pixelColor(41, 2), kBlack);
        QCOMPARE(img.pixelColor(41, 35), kBlack);
        QCOMPARE(img.pixelColor(45, 30), kBlack);
        QCOMPARE(img.pixelColor(150, 30), kBlack);
        QCOMPARE(img.pixelColor(2, 29), QColor(Qt::white));

        graph->runCommand(kCmdInfoMode);
        img = paint(*graph);
        QCOMPARE(img.pixelColor(41, 35), MFTrafficButton::kBackgroundColour);
        QCOMPARE(img.pixelColor(45, 30), MFTrafficButton::kBackgroundColour);
        QCOMPARE(img.pixelColor(2, 29), MFTrafficButton::kBackgroundColour);
    }

    void mouse_movesTheCrosshairUntilAClickPinsIt() {
        auto graph = makeGraph("GNfoMode=1\n");
        QMouseEvent move(QEvent::MouseMove, QPointF(12, 7), QPointF(12, 7), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(graph.get(), &move);
        QCOMPARE(graph->model().pinX(), 12);
        QCOMPARE(graph->model().pinY(), 7);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(12, 7), QPointF(12, 7), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(graph.get(), &press);
        QMouseEvent move2(QEvent::MouseMove, QPointF(30, 20), QPointF(30, 20), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(graph.get(), &move2);
        QCOMPARE(graph->model().pinX(), 12);
        graph.reset();
        QCOMPARE(m_fake->settings.getInt("PinPoint").value_or(-1), std::int64_t{(12 << 16) + 7});
    }

    void
    hiddenWindow_repaintTimerRests_fromTheStartToo_samplingGoesOn_andComesBackWithTheLatestPeriod() {
        QWidget window;
        CGlobal& g = load("");
        auto* graph = new MFTrafficButton(g, &window);
        graph->resize(kWidth, kHeight);
        graph->attach();
        graph->setTimerPeriods(1000, 100);
        QVERIFY(!graph->timersActive()); // started in the tray: no wake for a graph never shown
        window.show();
        QVERIFY(graph->timersActive());
        window.hide();
        QVERIFY(!graph->timersActive());
        graph->setTimerPeriods(1000, 200); // a time-base change while hidden
        QVERIFY(!graph->timersActive());
        window.show();
        QVERIFY(graph->timersActive());
        QCOMPARE(graph->repaintTimerIntervalMs(), 200);
    }

    void contextMenu_itemsChecksAndCommands() {
        auto graph = makeGraph("TraffTpe=2\nTMaxScale=1\nConSpeed=128\n");
        graph->setTimerPeriods(1000, 100);
        QCOMPARE(graph->repaintTimerIntervalMs(), 100);
        auto menu = graph->createContextMenu();
        const auto actions = menu->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(actions[0]->text(), QString("Select Traffic"));
        QCOMPARE(actions[1]->text(), QString("Toggle scaling to 16.00 KB/s"));
        QCOMPARE(actions[1]->data().toInt(), 3000);
        QCOMPARE(actions[2]->text(), QString("Switch speeds"));
        QCOMPARE(actions[3]->text(), QString("Info Mode"));
        QVERIFY(actions[3]->isChecked());
        const auto traffic = actions[0]->menu()->actions();
        QCOMPARE(traffic.size(), 3);
        QCOMPARE(traffic[1]->text(), QString("Out"));
        QVERIFY(traffic[1]->isChecked());
        QVERIFY(!traffic[2]->isChecked());

        graph->runCommand(61);
        QCOMPARE(graph->repaintTimerIntervalMs(), 200);
        menu = graph->createContextMenu();
        QCOMPARE(menu->actions().size(), 3);
        QVERIFY(menu->actions()[1]->menu()->actions()[1]->isChecked());
        graph->runCommand(62);
        QCOMPARE(graph->repaintTimerIntervalMs(), 1000);
        graph->runCommand(60);
        QCOMPARE(graph->repaintTimerIntervalMs(), 100);
        graph->runCommand(52);
        QCOMPARE(m_fake->settings.getInt("TraffTpe").value_or(-1), std::int64_t{0});
    }

    void attach_roundsTheCornersAndFixesTheSize() {
        auto graph = makeGraph("");
        const QRegion mask = graph->mask();
        QVERIFY(!mask.contains(QPoint(0, 0)));
        QVERIFY(!mask.contains(QPoint(1, 0)));
        QVERIFY(!mask.contains(QPoint(0, 1)));
        QVERIFY(mask.contains(QPoint(2, 0)));
        QVERIFY(mask.contains(QPoint(1, 1)));
        QVERIFY(!mask.contains(QPoint(kWidth - 1, kHeight - 1)));
        QVERIFY(mask.contains(QPoint(30, 20)));
        graph->resize(200, 200);
        QCOMPARE(graph->size(), QSize(kWidth, kHeight));
        QCOMPARE(graph->model().columns(), 60u);
    }

    void narrowControl_paintsItsInfoText() {
        CGlobal& g = load("GNfoMode=1\n");
        MFTrafficButton graph(g);
        graph.resize(2, 30);
        graph.attach();
        graph.setCurrentIncoming(100);
        graph.sampleTick();
        graph.sampleTick();
        QCOMPARE(graph.model().infoText(), std::string(" 100 B/s  /  0 B/s "));
        const QImage img = paint(graph);
        QCOMPARE(img.size(), QSize(2, 30));
    }
};

QTEST_MAIN(TrafficButtonTest)
#include "traffic_button_test.moc"
