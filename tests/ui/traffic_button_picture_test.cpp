// Drives MFTrafficButton with three hours of synthetic but realistic traffic (an idle line
// with page loads, downloads and a video call) and saves what a user would see as PNG files:
// traffic_graph_seconds.png and traffic_graph_minutes.png in $TALLYNET_PICTURE_DIR, or in the
// working directory when it is not set.
#include "ui/main/traffic_button.h"

#include "app/global.h"
#include "support/fake_platform.h"

#include <QDir>
#include <QtTest/QtTest>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace tn;

namespace {

struct Sample {
    std::uint32_t in = 0;
    std::uint32_t out = 0;
};

// One sample per second. Deterministic: the same seed gives the same picture.
std::vector<Sample> syntheticTraffic(int seconds) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> in(seconds), out(seconds);
    // An idle line: keep-alives, DNS, background sync.
    for (int t = 0; t < seconds; ++t) {
        in[t] = 300 + 1400 * unit(rng) * unit(rng);
        out[t] = 150 + 500 * unit(rng) * unit(rng);
    }
    const auto pageLoad = [&](int start) {
        const int length = 2 + static_cast<int>(unit(rng) * 6);
        const double peak = 40e3 + 360e3 * unit(rng) * unit(rng);
        for (int k = 0; k < length && start + k < seconds; ++k) {
            const double v = peak * std::exp(-1.1 * k) * (0.7 + 0.6 * unit(rng));
            in[start + k] += v;
            out[start + k] += 0.04 * v + 1500;
        }
    };
    const auto download = [&](int start, int length, double rate) {
        for (int k = 0; k < length && start + k < seconds; ++k) {
            const double rampUp = std::min(1.0, (k + 1) / 4.0); // slow start
            const double sawtooth = 0.85 + 0.15 * ((k % 9) / 8.0);
            in[start + k] += rate * rampUp * sawtooth * (0.92 + 0.16 * unit(rng));
            out[start + k] += rate * 0.018 * rampUp;
        }
    };
    for (int t = 0; t < seconds;) {
        pageLoad(t);
        t += 8 + static_cast<int>(-40 * std::log(1 - unit(rng)));
    }
    for (int t = 600; t < seconds - 900; t += 1500 + static_cast<int>(1500 * unit(rng)))
        download(t, 40 + static_cast<int>(200 * unit(rng)), 0.6e6 + 1.0e6 * unit(rng));
    // A video call in the second hour: steady both ways.
    for (int t = 4200; t < 6000; ++t) {
        in[t] += 180e3 * (0.9 + 0.2 * unit(rng));
        out[t] += 120e3 * (0.9 + 0.2 * unit(rng));
    }
    // The last two and a half minutes, which the per-second view shows: a download and a few
    // pages around it.
    download(seconds - 112, 40, 0.42e6);
    for (int t : {140, 131, 124, 60, 52, 41, 30, 18, 9})
        pageLoad(seconds - t);

    std::vector<Sample> samples(seconds);
    for (int t = 0; t < seconds; ++t)
        samples[t] = {static_cast<std::uint32_t>(in[t]), static_cast<std::uint32_t>(out[t])};
    return samples;
}

double total(const Sample& s) {
    return static_cast<double>(s.in) + s.out;
}

// The picture as the window shows it: the rounded corners let the dialog behind show through.
QImage asShown(MFTrafficButton& graph) {
    QImage img = graph.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRegion shape = graph.mask();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!shape.contains(QPoint(x, y)))
                img.setPixel(x, y, qRgba(0, 0, 0, 0));
    return img;
}

} // namespace

class TrafficButtonPictureTest : public QObject {
    Q_OBJECT

private slots:
    void threeHoursOfTraffic_savedAsPictures() {
        test::FakePlatform fake;
        CGlobal g(fake.services());
        g.loadSettings(); // first run: Total, adaptive, info mode on

        // The main window's control: 294 x 41 dialog units at 96 dpi.
        MFTrafficButton graph(g);
        graph.resize(441, 66);
        graph.attach();
        graph.setScalingMode(g.TMaxScale);
        graph.restorePinPoint((309 << 16) + 44);
        graph.setFixedMaximum(static_cast<double>((g.ConSpeed << 10) >> 3));

        const int seconds = 3 * 3600;
        const std::vector<Sample> samples = syntheticTraffic(seconds);
        for (const Sample& s : samples) {
            graph.setCurrentIncoming(s.in);
            graph.setCurrentOutgoing(s.out);
            graph.sampleTick();
        }

        // The adaptive maximum is the largest completed second on screen: the 147 samples
        // before the newest one.
        const std::uint32_t n = graph.model().columns();
        QCOMPARE(n, 147u);
        double largest = 0;
        for (std::size_t t = samples.size() - 1 - n; t < samples.size() - 1; ++t)
            largest = std::max(largest, total(samples[t]));
        QCOMPARE(graph.model().currentMaximum(), largest);

        const QString folder = qEnvironmentVariableIsSet("TALLYNET_PICTURE_DIR")
                                   ? qEnvironmentVariable("TALLYNET_PICTURE_DIR")
                                   : QDir::currentPath();
        const QImage seconds_view = asShown(graph);
        QVERIFY(seconds_view.save(folder + "/traffic_graph_seconds.png"));
        // Right of the info text, every bar of a pixel or more has its marker on top.
        int markers = 0;
        for (int x = 150; x < seconds_view.width(); x += 3)
            for (int y = 0; y < seconds_view.height(); ++y)
                if (seconds_view.pixelColor(x, y) == MFTrafficButton::kMarkerColour)
                    ++markers;
        QVERIFY2(markers > 20, "the bars carry their marker pixels");

        // Per minute: the newest completed minute closed on sample 10800 and holds the samples
        // 10740 to 10799 (1-based), the 60 before the one that opened the next minute.
        graph.selectTimeBase(1);
        double lastMinute = 0;
        for (int t = 10739; t <= 10798; ++t)
            lastMinute += total(samples[t]);
        QCOMPARE(graph.model().valueAt(n - 1), lastMinute);
        graph.sampleTick(); // the label follows the time base on the next sample
        QVERIFY(asShown(graph).save(folder + "/traffic_graph_minutes.png"));
        qInfo("pictures saved in %s", qPrintable(folder));
    }
};

QTEST_MAIN(TrafficButtonPictureTest)
#include "traffic_button_picture_test.moc"
