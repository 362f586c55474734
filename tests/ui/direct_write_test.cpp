// Graph frames written to the X11 window directly, past the backing store: what the display shows
// must be what a paint of the window would show, after every kind of frame, after the window was
// covered and uncovered, and after the window was made anew. Runs on an X display (Xvfb).
#include "app/global.h"
#include "support/fake_platform.h"
#include "ui/main/traffic_button.h"

#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace tn;

namespace {

void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// The window's pixels as the display holds them, read on the toolkit's own connection so that
// every write before it has been carried out. The widget's own winId() keeps the first native
// window's id after the toolkit made a new one; the window handle knows the present one.
QImage displayPixels(QWidget* top, const QRect& r) {
    auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                      static_cast<xcb_window_t>(top->windowHandle()->winId()),
                                      r.x(), r.y(), r.width(), r.height(), ~0u);
    xcb_generic_error_t* error = nullptr;
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
        xcb_get_image_reply(c, cookie, &error), &std::free);
    if (error) {
        qWarning("get image: error %d", error->error_code);
        std::free(error);
    }
    QImage out(r.size(), QImage::Format_RGB32);
    if (!reply || xcb_get_image_data_length(reply.get()) < r.width() * r.height() * 4)
        return {};
    const auto* px = reinterpret_cast<const QRgb*>(xcb_get_image_data(reply.get()));
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x)
            out.setPixel(x, y, px[y * r.width() + x] | 0xff000000u);
    return out;
}

// The first pixel where the display differs from a paint of the window, or "" when none does.
QString firstDifference(QWidget* top, const QRect& r) {
    const QImage shown = displayPixels(top, r);
    const QImage painted = top->grab(r).toImage().convertToFormat(QImage::Format_RGB32);
    if (shown.isNull())
        return QStringLiteral("the display gave no pixels");
    for (int y = 0; y < r.height(); ++y)
        for (int x = 0; x < r.width(); ++x)
            if ((shown.pixel(x, y) & 0xffffff) != (painted.pixel(x, y) & 0xffffff))
                return QStringLiteral("(%1, %2): display %3, paint %4")
                    .arg(x)
                    .arg(y)
                    .arg(shown.pixel(x, y) & 0xffffff, 6, 16, QLatin1Char('0'))
                    .arg(painted.pixel(x, y) & 0xffffff, 6, 16, QLatin1Char('0'));
    return {};
}

enum class Step { Frame, Sample, Mouse, Cover, NewWindow };

} // namespace

class DirectWriteTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X display");
    }

    void display_showsWhatAPaintShows_data() {
        QTest::addColumn<bool>("sharedRing");
        QTest::newRow("pixels through shared memory") << true;
        QTest::newRow("pixels in the requests") << false;
    }

    // A column written at the wrong place, pixels in the wrong byte order, a rounded corner
    // written over, a band read from the wrong place of the shared ring, a write to a window
    // that is gone, or an expose that shows the backing store's older frame: each leaves the
    // display unlike the paint.
    void display_showsWhatAPaintShows() {
        QFETCH(bool, sharedRing);
        if (sharedRing)
            qunsetenv("TALLYNET_NO_SHARED_RING");
        else
            qputenv("TALLYNET_NO_SHARED_RING", "1");
        test::FakePlatform fake;
        fake.settings.text = "[SetariGenerale]\nGNfoMode=1\nTMaxScale=0\n";
        CGlobal global(fake.services());
        global.loadSettings();

        QWidget top;
        top.setAutoFillBackground(true);
        QPalette pal = top.palette();
        pal.setColor(QPalette::Window, QColor(10, 200, 30)); // under the rounded corners
        top.setPalette(pal);
        top.setGeometry(40, 40, 200, 80);
        auto* graph = new MFTrafficButton(global, &top);
        graph->setGeometry(7, 5, 150, 45); // not at the window's origin
        graph->attach();
        graph->setScalingMode(global.TMaxScale);
        graph->restorePinPoint(global.PinPoint);
        graph->setFixedMaximum(16384);
        top.show();
        QVERIFY(QTest::qWaitForWindowExposed(&top));
        settle();

        struct Case {
            Step step;
            std::uint32_t in = 0, out = 0; // Sample; Mouse: the position
        };
        std::vector<Case> steps;
        for (int i = 0; i < 12; ++i) // the grid wraps from 0 to 10 on the way
            steps.push_back({Step::Frame});
        steps.push_back({Step::Sample, 9000, 300});
        steps.push_back({Step::Frame});
        steps.push_back({Step::Sample, 20000, 16000}); // taller than the control
        for (int i = 0; i < 3; ++i)
            steps.push_back({Step::Frame});
        // Each move a whole frame: together more than the shared ring holds.
        for (std::uint32_t i = 0; i < 24; ++i)
            steps.push_back({Step::Mouse, 30 + i * 4, 5 + i});
        steps.push_back({Step::Frame});
        steps.push_back({Step::Cover});
        steps.push_back({Step::Frame});
        steps.push_back({Step::NewWindow});
        steps.push_back({Step::Frame});
        steps.push_back({Step::Frame});
        steps.push_back({Step::Cover});

        bool stayOnTop = false;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Case& c = steps[i];
            switch (c.step) {
            case Step::Frame:
                graph->requestFrame();
                break;
            case Step::Sample:
                graph->setCurrentIncoming(c.in);
                graph->setCurrentOutgoing(c.out);
                graph->sampleTick();
                graph->requestFrame();
                break;
            case Step::Mouse:
                QTest::mouseMove(graph, QPoint(static_cast<int>(c.in), static_cast<int>(c.out)));
                break;
            case Step::Cover: {
                // Another window over part of the graph, then gone: the display asks for
                // the uncovered pixels again.
                QWidget cover;
                cover.setWindowFlag(Qt::X11BypassWindowManagerHint);
                cover.setGeometry(QRect(graph->mapToGlobal(QPoint(20, 10)), QSize(90, 30)));
                cover.show();
                QVERIFY(QTest::qWaitForWindowExposed(&cover));
                settle();
                cover.hide();
                break;
            }
            case Step::NewWindow:
                stayOnTop = !stayOnTop;
                top.setWindowFlag(Qt::WindowStaysOnTopHint, stayOnTop); // a new native window
                top.show();
                QVERIFY(QTest::qWaitForWindowExposed(&top));
                break;
            }
            settle();
            QTest::qWait(30); // the display's exposes come back
            settle();
            QVERIFY2(graph->writesDirectly(), qPrintable(QStringLiteral("step %1").arg(i)));
            const QRect area(graph->pos() - QPoint(1, 1), graph->size() + QSize(2, 2));
            const QString diff = firstDifference(&top, area);
            QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("step %1: %2").arg(i).arg(diff)));
        }
    }
};

QTEST_MAIN(DirectWriteTest)
#include "direct_write_test.moc"
