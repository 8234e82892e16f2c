// Frame benchmark of the GNOME Wayland path: MutterRemoteDesktop's frames of a headless Mutter
// monitor showing the reference screen in a full-screen window, on a still screen and with a
// complete change before every frame. Run through run-mutter-frame-bench.sh; see README.md.

#include "CpuTime.h"
#include "platform/linux/MutterRemoteDesktop.h"
#include "support/RemoteSupportController.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kFramesPerRun = 20;
constexpr int kStillFramesPerRun = 200;
// Long enough for Mutter to have drawn and cast a change on this machine.
constexpr int kSettleMs = 400;

class Screen : public QRasterWindow {
public:
    QImage pictures[2];
    int shown = 0;

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).drawImage(QRect(QPoint(), size()), pictures[shown]); }
};

// Runs the event loop for a while (processEvents with a time would poll all along).
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const qint64 mutter = qEnvironmentVariableIntValue("PELK_MUTTER_PID");
    QImage reference(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    if (reference.isNull() || mutter <= 0) {
        std::fprintf(
            stderr, "usage: PELK_MUTTER_PID=pid mutter_frame_bench <screen.png>  (run-mutter-frame-bench.sh)\n");
        return 2;
    }
    Screen screen;
    screen.pictures[0] = reference.convertToFormat(QImage::Format_RGB32);
    reference.invertPixels();
    screen.pictures[1] = reference.convertToFormat(QImage::Format_RGB32);
    screen.showFullScreen();
    spin(2000);

    std::optional<pelk::platform::MutterRemoteDesktop> desktop;
    desktop.emplace(QDBusConnection::sessionBus());
    std::optional<pelk::platform::MainDisplay> display;
    bool found = false;
    desktop->findMainDisplay([&](std::optional<pelk::platform::MainDisplay> d) {
        display = d;
        found = true;
    });
    for (int waited = 0; !found && waited < 20000; waited += 100)
        spin(100);
    if (!display) {
        std::fprintf(stderr, "Mutter's screen cast did not start\n");
        return 1;
    }
    spin(kSettleMs);
    const QSize out = pelk::support::RemoteSupportController::pictureSize(display->bounds.size());
    const int quality = pelk::support::RemoteSupportController::kJpegQuality;
    QByteArray last;
    // One frame as the controller sends it: the capture, Base64 and the request's JSON body.
    // True when it shows a picture other than the frame before.
    pelk::support::FrameBodies bodies;
    const auto frame = [&] {
        const std::optional<QByteArray> jpeg = desktop->captureJpegNow(out, quality);
        if (!jpeg)
            return false;
        const bool fresh = *jpeg != last && !bodies.bodyFor(*jpeg, QStringLiteral("s")).isEmpty();
        last = *jpeg;
        return fresh;
    };
    const auto change = [&] {
        screen.shown ^= 1;
        screen.update();
    };

    std::vector<double> still, changedApp, castMutter, plainMutter;
    bool stillSame = true;
    for (int run = 0; run < kRuns; ++run) {
        frame();
        const QByteArray before = last;
        for (int i = 0; i < kStillFramesPerRun; ++i) {
            const double app0 = processCpuMs();
            frame();
            still.push_back(processCpuMs() - app0);
        }
        stillSame = stillSame && last == before;
        // A complete change, then the frame that shows it, and Mutter's CPU from the change
        // until it settled (drawing the window and, with the cast on, casting it).
        for (int i = 0; i < kFramesPerRun; ++i) {
            const double mutter0 = cpuMs(mutter);
            change();
            const QDeadlineTimer settle(kSettleMs);
            bool encoded = false;
            while (!settle.hasExpired()) {
                spin(5);
                if (encoded)
                    continue;
                const double app0 = processCpuMs();
                if (frame()) {
                    changedApp.push_back(processCpuMs() - app0);
                    encoded = true;
                }
            }
            castMutter.push_back(cpuMs(mutter) - mutter0);
        }
    }
    const quint64 frames = changedApp.size();
    // What a still screen costs Mutter and this process while the cast runs, frames or not.
    spin(kSettleMs);
    const double idleApp0 = processCpuMs(), idleMutter0 = cpuMs(mutter);
    spin(2000);
    const double idleApp = (processCpuMs() - idleApp0) / 2, idleMutter = (cpuMs(mutter) - idleMutter0) / 2;
    // The same changes with no cast: what Mutter spends on drawing them anyway.
    desktop.reset();
    spin(1000);
    for (int i = 0; i < kRuns * kFramesPerRun; ++i) {
        const double mutter0 = cpuMs(mutter);
        change();
        spin(kSettleMs);
        plainMutter.push_back(cpuMs(mutter) - mutter0);
    }

    const double s = median(still), a = median(changedApp), m = median(castMutter), p = median(plainMutter);
    std::printf("Mutter monitor %dx%d -> %dx%d, CPU per frame, median of %d runs\n", display->bounds.width(),
        display->bounds.height(), out.width(), out.height(), kRuns);
    std::printf("still screen, %d frames a run:\n", kStillFramesPerRun);
    std::printf("  ours   %7.3f ms  same bytes as the frame before: %s  jpeg %lld bytes\n", s, stillSame ? "yes" : "NO",
        qlonglong(last.size()));
    std::printf("  at 2 frames/s: %.3f %% of one core (limit 0.3 %%)\n", s * 2 / 1000.0 * 100.0);
    std::printf("  the cast idling on it: this process %.2f %%, Mutter %.2f %% of one core\n", idleApp / 10.0,
        idleMutter / 10.0);
    std::printf("screen changed completely before each frame, %d frames a run (%llu encoded):\n", kFramesPerRun,
        static_cast<unsigned long long>(frames));
    std::printf("  ours (app)              %7.2f ms\n", a);
    std::printf("  Mutter per change, cast %7.2f ms, without cast %7.2f ms: the cast adds %.2f ms\n", m, p, m - p);
    std::printf("  app + what the cast adds to Mutter: %.2f ms\n", a + m - p);
    return 0;
}
