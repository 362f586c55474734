// What the shown main window repaints: the graph's partial repaints add up to the very picture
// a whole repaint draws, and the tick repaints and lays out nothing it does not change.
#include "ui/main/tallynet_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "fake_tray_shell.h"
#include "support/fake_platform.h"
#include "ui/main/traffic_button.h"

#include <QLabel>
#include <QMap>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using namespace tn;

namespace {

// Paint events and layout requests per widget, and the regions the graph repainted.
class PaintLog final : public QObject {
public:
    QMap<QObject*, int> paints;
    int layoutRequests = 0;
    QObject* watched = nullptr;
    std::vector<QRegion> watchedRegions;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::LayoutRequest)
            ++layoutRequests;
        if (e->type() == QEvent::Paint) {
            ++paints[o];
            if (o == watched)
                watchedRegions.push_back(static_cast<QPaintEvent*>(e)->region());
        }
        return false;
    }
};

// The test runs what the timers would; a tick of the window's own timer in between would
// change its texts behind the test's back.
class TimerParker final : public QObject {
protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        return e->type() == QEvent::Timer && qobject_cast<QTimer*>(o) != nullptr;
    }
};

// Equal inside the region (the graph's rounded corners are not its own pixels).
bool sameInside(const QImage& a, const QImage& b, const QRegion& inside) {
    for (const QRect& r : inside)
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y))
                    return false;
    return true;
}

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

enum class Step { Frame, Sample, Mouse, InfoMode, TrafficType, HideShow };

} // namespace

class WindowRepaintTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::FakePlatform> m_fake;
    std::unique_ptr<CGlobal> m_global;

    std::unique_ptr<MFTrafficButton> makeGraph() {
        auto graph = std::make_unique<MFTrafficButton>(*m_global);
        graph->resize(150, 45);
        graph->attach();
        graph->setScalingMode(m_global->TMaxScale);
        graph->restorePinPoint(m_global->PinPoint);
        graph->setFixedMaximum(16384);
        return graph;
    }

private slots:
    void init() {
        m_fake = std::make_unique<test::FakePlatform>();
        m_fake->settings.text = "[SetariGenerale]\nGNfoMode=1\nTMaxScale=0\n";
        m_global = std::make_unique<CGlobal>(m_fake->services());
        m_global->loadSettings();
    }

    // A graph on the screen is repainted only where its frame changed; the screen, put
    // together from those repaints alone, must equal a second graph drawn whole each frame
    // from the same data: a pixel left out of a repaint, a wrongly redrawn column under a bar
    // or a label, or a grid step too many or too few shows as a difference.
    void graph_partialRepaintsShowTheWholeFrame() {
        auto shown = makeGraph();
        auto whole = makeGraph();
        PaintLog log;
        log.watched = shown.get();
        shown->installEventFilter(&log);
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
        settle();
        QImage screen = shown->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage reference(whole->size(), QImage::Format_RGB32);
        {
            QPainter p(&reference);
            whole->renderFrame(p);
        }
        const QRegion inside = shown->mask();
        QVERIFY(sameInside(screen, reference, inside));

        struct Case {
            Step step;
            std::uint32_t in = 0, out = 0; // Sample; Mouse: the position
        };
        std::vector<Case> steps;
        for (int i = 0; i < 12; ++i) // the grid wraps from 0 to 10 on the way
            steps.push_back({Step::Frame});
        steps.push_back({Step::Sample, 9000, 300});
        steps.push_back({Step::Frame});
        steps.push_back({Step::Sample, 20000, 16000}); // taller than the control: cut at the top
        for (int i = 0; i < 4; ++i)
            steps.push_back({Step::Frame});
        steps.push_back({Step::Mouse, 40, 20}); // the crosshair and its labels move
        for (int i = 0; i < 11; ++i)
            steps.push_back({Step::Frame});
        steps.push_back({Step::InfoMode}); // no crosshair: the grid moves where it was
        for (int i = 0; i < 3; ++i)
            steps.push_back({Step::Frame});
        steps.push_back({Step::TrafficType});
        steps.push_back({Step::Frame});
        steps.push_back({Step::HideShow}); // samples while hidden show up at once
        for (int i = 0; i < 5; ++i)
            steps.push_back({Step::Frame});

        qint64 gridOnlyPixels = 0;
        int gridOnlyFrames = 0;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Case& c = steps[i];
            log.watchedRegions.clear();
            switch (c.step) {
            case Step::Frame:
                break;
            case Step::Sample:
                for (MFTrafficButton* g : {shown.get(), whole.get()}) {
                    g->setCurrentIncoming(c.in);
                    g->setCurrentOutgoing(c.out);
                    g->sampleTick();
                }
                break;
            case Step::Mouse:
                for (MFTrafficButton* g : {shown.get(), whole.get()}) {
                    QMouseEvent move(QEvent::MouseMove, QPointF(c.in, c.out), QPointF(c.in, c.out),
                                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
                    QCoreApplication::sendEvent(g, &move);
                }
                break;
            case Step::InfoMode:
                shown->runCommand(kCmdInfoMode);
                whole->runCommand(kCmdInfoMode);
                break;
            case Step::TrafficType:
                shown->selectTrafficType(2);
                whole->selectTrafficType(2);
                break;
            case Step::HideShow:
                shown->hide();
                settle();
                for (MFTrafficButton* g : {shown.get(), whole.get()}) {
                    g->setCurrentIncoming(4000);
                    g->sampleTick();
                }
                shown->requestFrame(); // hidden: draws nothing, moves no grid
                settle();
                shown->show();
                QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
                break;
            }
            if (c.step != Step::HideShow)
                shown->requestFrame(); // what the repaint timer asks for
            settle();
            {
                QPainter p(&reference);
                whole->renderFrame(p);
            }
            // The screen keeps what no repaint touched.
            const std::vector<QRegion> repainted = log.watchedRegions;
            const QImage now = shown->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QPainter p(&screen);
            for (const QRegion& r : repainted) {
                p.setClipRegion(r);
                p.drawImage(0, 0, now);
            }
            p.end();
            QVERIFY2(sameInside(screen, reference, inside), qPrintable(QString("step %1").arg(i)));
            if (c.step == Step::Frame && i > 0 && steps[i - 1].step == Step::Frame) {
                ++gridOnlyFrames;
                for (const QRegion& r : repainted)
                    for (const QRect& rect : r)
                        gridOnlyPixels += static_cast<qint64>(rect.width()) * rect.height();
            }
        }
        // The frames in which only the grid moved repainted less than the whole control: with
        // a bar as high as the control on the right, the rows of its top stay untouched.
        QVERIFY(gridOnlyFrames > 20);
        QVERIFY(gridOnlyPixels < static_cast<qint64>(gridOnlyFrames) * 150 * 45);
    }

    // The tick of a shown window repaints the controls whose text or value changed and no
    // other, and asks for no new layout; a hidden window, or one of a locked session, paints
    // nothing at all and shows the last tick's texts when it comes back.
    void tick_repaintsOnlyWhatChanged_nothingWhileHiddenOrLocked() {
        TimerParker parker;
        qApp->installEventFilter(&parker);
        test::FakeStatisticsOwner stats;
        stats.adapters = {"eth0"};
        test::FakeInterfaceTable& table = m_fake->interfaces;
        table.set(1000, 1000, 100);
        ui::MainWindowServices services;
        services.global = m_global.get();
        services.clock = &m_fake->clock;
        services.interfaces = &table;
        services.stats = &stats;
        services.trayShell = std::make_unique<test::FakeTrayShell>();
        ui::CTallynetDlg dlg(std::move(services));
        dlg.initDialog();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const auto tick = [&](std::uint64_t in) {
            table.rows[0].inOctets += in;
            m_fake->clock.advance(1);
            dlg.onTick();
            settle();
        };
        tick(0);
        tick(0);

        PaintLog log;
        qApp->installEventFilter(&log);
        // 10 minutes of the same traffic: from the second tick on only the period texts, the
        // totals and the period captions change.
        tick(5000);
        log.paints.clear();
        log.layoutRequests = 0;
        tick(5000);
        const QWidget* receivedSpeed = dlg.control(1000);
        const QWidget* totalDownload = dlg.control(1009);
        const QWidget* uploadSpeed = dlg.control(1002); // 0 B/s throughout
        const QWidget* exitButton = dlg.control(ids::main_dlg::kExit);
        QCOMPARE(log.paints.value(const_cast<QWidget*>(receivedSpeed)), 0);
        QVERIFY(log.paints.value(const_cast<QWidget*>(totalDownload)) > 0);
        QCOMPARE(log.paints.value(const_cast<QWidget*>(uploadSpeed)), 0);
        if (exitButton)
            QCOMPARE(log.paints.value(const_cast<QWidget*>(exitButton)), 0);
        QCOMPARE(log.layoutRequests, 0);
        // What the display shows after those partial repaints is what a whole repaint draws:
        // the background under every changed text is the window's own piece of it.
        {
            const QImage onScreen = dlg.screen()
                                        ->grabWindow(dlg.winId())
                                        .toImage()
                                        .convertToFormat(QImage::Format_RGB32);
            const QImage whole = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(onScreen.size(), whole.size());
            const QRegion outsideGraph = QRegion(dlg.rect()) - dlg.graph()->geometry();
            QVERIFY(sameInside(onScreen, whole, outsideGraph));
        }

        dlg.hideWindow();
        settle();
        log.paints.clear();
        for (int i = 0; i < 3; ++i) {
            tick(7000);
            dlg.graph()->requestFrame();
            settle();
        }
        int hiddenPaints = 0;
        for (int n : std::as_const(log.paints))
            hiddenPaints += n;
        QCOMPARE(hiddenPaints, 0);
        const QString expected = "6.84 KB/s"; // 7000 B in the last second
        dlg.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        settle();
        QCOMPARE(static_cast<const QLabel*>(receivedSpeed)->text(), expected);

        // The session locked: the shown window draws nothing either, and unlocked it shows the
        // last second at once.
        dlg.onScreenLock(true);
        settle();
        log.paints.clear();
        for (int i = 0; i < 3; ++i) {
            tick(9000);
            dlg.graph()->requestFrame();
            settle();
        }
        int lockedPaints = 0;
        for (int n : std::as_const(log.paints))
            lockedPaints += n;
        QCOMPARE(lockedPaints, 0);
        dlg.onScreenLock(false);
        settle();
        QCOMPARE(static_cast<const QLabel*>(receivedSpeed)->text(), QString("8.79 KB/s"));
        QVERIFY(log.paints.value(dlg.graph()) > 0);
        qApp->removeEventFilter(&log);
        dlg.shutdown();
    }
};

QTEST_MAIN(WindowRepaintTest)
#include "window_repaint_test.moc"
