// Frame benchmark: the support frame path on a still screen, and on a screen that changes
// completely every frame against a minimal floor and the naive Qt path; then its frames after
// partial changes against full captures. On the X display in $DISPLAY (a 2560x1440 Xvfb
// showing the reference screen). See README.md.

#include "CpuTime.h"
#include "fakes/JpegDifference.h"
#include "platform/linux/X11Desktop.h"
#include "support/RemoteSupportController.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <turbojpeg.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kFramesPerRun = 20;
// A still frame costs little, so many are timed for a reading above the noise.
constexpr int kStillFramesPerRun = 200;
constexpr int kPartialChanges = 10;

// The X server's CPU time, all its threads.
qint64 g_serverPid = 0;
double serverCpuMs()
{
    return g_serverPid > 0 ? cpuMs(g_serverPid) : 0;
}

qint64 findServerPid(const QByteArray &display)
{
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        if (args.isEmpty() || !args[0].endsWith("Xvfb"))
            continue;
        if (args.contains(display) || (display == ":0" && !args.contains(display)))
            return pid;
    }
    return 0;
}

struct Sample {
    double appMs = 0;
    double serverMs = 0;
    qsizetype jpegBytes = 0;
    double total() const { return appMs + serverMs; }
};

// One frame's CPU; the /proc reads stay outside both intervals.
Sample timed(const std::function<qsizetype()> &frame)
{
    const double server0 = serverCpuMs();
    const double app0 = processCpuMs();
    const qsizetype bytes = frame();
    const double app = processCpuMs() - app0;
    return Sample { app, serverCpuMs() - server0, bytes };
}

// The floor: XShm into a reused segment, a plain bilinear scale, TurboJPEG 55, Base64.
class Floor {
public:
    Floor(xcb_connection_t *c, xcb_window_t root, int w, int h) : m_c(c), m_root(root), m_w(w), m_h(h)
    {
        m_id = shmget(IPC_PRIVATE, size_t(w) * size_t(h) * 4, IPC_CREAT | 0600);
        m_data = static_cast<uchar *>(shmat(m_id, nullptr, 0));
        m_seg = xcb_generate_id(c);
        xcb_shm_attach(c, m_seg, quint32(m_id), 0);
        shmctl(m_id, IPC_RMID, nullptr);
        m_tj = tjInitCompress();
    }
    ~Floor()
    {
        xcb_shm_detach(m_c, m_seg);
        shmdt(m_data);
        tjDestroy(m_tj);
    }
    qsizetype frame(int outW, int outH)
    {
        free(xcb_shm_get_image_reply(m_c,
            xcb_shm_get_image(m_c, m_root, 0, 0, quint16(m_w), quint16(m_h), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_seg, 0),
            nullptr));
        m_scaled.resize(size_t(outW) * size_t(outH) * 4);
        // Plain bilinear in 8-bit fixed point, column taps computed once per frame.
        std::vector<int> xs(static_cast<size_t>(outW));
        std::vector<int> xw(static_cast<size_t>(outW));
        for (int x = 0; x < outW; ++x) {
            const int fx = std::max(0, int(((2 * x + 1) * m_w * 256LL) / (2 * outW)) - 128);
            xs[size_t(x)] = std::min(fx >> 8, m_w - 2);
            xw[size_t(x)] = fx & 255;
        }
        for (int y = 0; y < outH; ++y) {
            const int fy = std::max(0, int(((2 * y + 1) * m_h * 256LL) / (2 * outH)) - 128);
            const int y0 = std::min(fy >> 8, m_h - 2);
            const int wy = fy & 255;
            const uchar *r0 = m_data + size_t(y0) * size_t(m_w) * 4;
            const uchar *r1 = r0 + size_t(m_w) * 4;
            uchar *o = &m_scaled[size_t(y) * size_t(outW) * 4];
            for (int x = 0; x < outW; ++x, o += 4) {
                const int i = xs[size_t(x)] * 4;
                const int wx = xw[size_t(x)];
                for (int k = 0; k < 3; ++k) {
                    const int top = r0[i + k] * (256 - wx) + r0[i + 4 + k] * wx;
                    const int bottom = r1[i + k] * (256 - wx) + r1[i + 4 + k] * wx;
                    o[k] = uchar((top * (256 - wy) + bottom * wy) >> 16);
                }
                o[3] = 255;
            }
        }
        uchar *jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(m_tj, m_scaled.data(), outW, 0, outH, TJPF_BGRX, &jpeg, &size, TJSAMP_420, 55, 0);
        const QByteArray base64
            = QByteArray::fromRawData(reinterpret_cast<const char *>(jpeg), qsizetype(size)).toBase64();
        tjFree(jpeg);
        m_lastJpeg = qsizetype(size);
        return base64.isEmpty() ? 0 : m_lastJpeg;
    }

private:
    xcb_connection_t *m_c;
    xcb_window_t m_root;
    int m_w;
    int m_h;
    int m_id = -1;
    uchar *m_data = nullptr;
    quint32 m_seg = 0;
    tjhandle m_tj = nullptr;
    std::vector<uchar> m_scaled;
    qsizetype m_lastJpeg = 0;
};

// The picture as a pixmap the size of the screen.
xcb_pixmap_t pixmapOf(xcb_connection_t *c, xcb_screen_t *screen, QImage image)
{
    image = image.convertToFormat(QImage::Format_RGB32).scaled(screen->width_in_pixels, screen->height_in_pixels);
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, screen->root, quint16(image.width()), quint16(image.height()));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    const int rowsPerRequest = 64;
    for (int y = 0; y < image.height(); y += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, image.height() - y);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, quint16(image.width()), quint16(rows), 0, qint16(y), 0,
            screen->root_depth, quint32(rows * image.bytesPerLine()), image.constScanLine(y));
    }
    xcb_free_gc(c, gc);
    return pixmap;
}

// Shows the pixmap on the root window, so every path captures the same screen; returns once drawn.
void showOnRoot(xcb_connection_t *c, xcb_screen_t *screen, xcb_pixmap_t pixmap)
{
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: frame_bench <screen.png>  (on a 2560x1440 X display)\n");
        return 2;
    }
    // Closed last, after the floor's segment is detached through it: detaching on a closed
    // connection wrote into freed memory and, now and then, aborted the run at exit.
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(nullptr, nullptr), &xcb_disconnect);
    xcb_connection_t *c = connection.get();
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    QImage reference(QString::fromLocal8Bit(argv[1]));
    if (reference.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    // The reference screen and its negative: every pixel differs from one frame to the next.
    xcb_pixmap_t pictures[2] = { pixmapOf(c, screen, reference), 0 };
    reference.invertPixels();
    pictures[1] = pixmapOf(c, screen, reference);
    showOnRoot(c, screen, pictures[0]);
    g_serverPid = findServerPid(qgetenv("DISPLAY"));
    const int width = screen->width_in_pixels;
    const int height = screen->height_in_pixels;
    const QSize out = pelk::support::RemoteSupportController::pictureSize(QSizeF(width, height));
    const int quality = pelk::support::RemoteSupportController::kJpegQuality;

    pelk::platform::X11Desktop desktop;
    Floor floor(c, screen->root, width, height);
    QByteArray lastJpeg;
    pelk::support::FrameBodies bodies;
    const auto ours = [&] {
        const std::optional<QByteArray> jpeg = desktop.captureJpegNow(out, quality);
        if (!jpeg)
            return qsizetype(0);
        lastJpeg = *jpeg;
        return bodies.bodyFor(*jpeg, QStringLiteral("s")).isEmpty() ? 0 : jpeg->size();
    };
    const auto naive = [&] {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        const QImage scaled = shot.toImage().scaled(out, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        scaled.save(&buffer, "JPG", 55);
        return bytes.size();
    };
    const auto floorFrame = [&] { return floor.frame(out.width(), out.height()); };
    int shown = 0;
    const auto change = [&] {
        shown ^= 1;
        showOnRoot(c, screen, pictures[shown]);
    };

    std::vector<double> stillTotal, stillServer, oursTotal, oursServer, floorTotal, naiveTotal, paired;
    qsizetype oursBytes = 0, floorBytes = 0, naiveBytes = 0;
    bool stillSame = true;
    // Warm up (segments, encoders, caches).
    ours();
    floorFrame();
    naive();
    for (int run = 0; run < kRuns; ++run) {
        ours();
        const QByteArray before = lastJpeg;
        for (int i = 0; i < kStillFramesPerRun; ++i) {
            const Sample still = timed(ours);
            stillTotal.push_back(still.total());
            stillServer.push_back(still.serverMs);
        }
        stillSame = stillSame && lastJpeg == before;
        // Frame by frame in turn, each after a complete change (not timed), so that load from
        // others on a shared machine hits all three alike.
        for (int i = 0; i < kFramesPerRun; ++i) {
            change();
            const Sample a = timed(ours);
            change();
            const Sample b = timed(floorFrame);
            change();
            const Sample n = timed(naive);
            oursTotal.push_back(a.total());
            oursServer.push_back(a.serverMs);
            floorTotal.push_back(b.total());
            paired.push_back(a.total() / b.total());
            naiveTotal.push_back(n.total());
            oursBytes = a.jpegBytes;
            floorBytes = b.jpegBytes;
            naiveBytes = n.jpegBytes;
        }
    }

    // Partial changes (a rectangle drawn on the screen, the pointer moved) against a full capture
    // of the same screen by a capturer that has kept nothing.
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    int worst = 0;
    int identical = 0;
    quint32 seed = 7;
    const auto next = [&seed](int below) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 8) % quint32(below));
    };
    ours();
    for (int i = 0; i < kPartialChanges; ++i) {
        const quint32 colour = quint32(next(0xffffff));
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
        const xcb_rectangle_t rect { qint16(next(width - 300)), qint16(next(height - 200)), quint16(1 + next(300)),
            quint16(1 + next(200)) };
        xcb_poly_fill_rectangle(c, screen->root, gc, 1, &rect);
        xcb_warp_pointer(c, XCB_NONE, screen->root, 0, 0, 0, 0, qint16(next(width)), qint16(next(height)));
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        const std::optional<QByteArray> partial = desktop.captureJpegNow(out, quality);
        const std::optional<QByteArray> full = pelk::platform::X11Desktop().captureJpegNow(out, quality);
        worst = std::max(worst, partial && full ? pelk::fakes::jpegDifference(*partial, *full) : 256);
        identical += partial && full && *partial == *full;
    }

    const double still = median(stillTotal);
    const double o = median(oursTotal), f = median(floorTotal), n = median(naiveTotal);
    std::printf("screen %dx%d -> %dx%d, CPU per frame (app + X server), median of the frames of %d runs\n", width,
        height, out.width(), out.height(), kRuns);
    std::printf("still screen, %d frames a run:\n", kStillFramesPerRun);
    std::printf("  ours   %7.3f ms (X server %.3f ms)  same bytes as the frame before: %s\n", still,
        median(stillServer), stillSame ? "yes" : "NO");
    std::printf("  at 2 frames/s: %.3f %% of one core (limit 0.3 %%)\n", still * 2 / 1000.0 * 100.0);
    std::printf("screen changed completely before each frame (not timed), %d frames a run, in turn:\n", kFramesPerRun);
    std::printf("  ours   %7.2f ms (X server %.2f ms)  jpeg %lld bytes\n", o, median(oursServer), qlonglong(oursBytes));
    std::printf("  floor  %7.2f ms                     jpeg %lld bytes\n", f, qlonglong(floorBytes));
    std::printf("  naive  %7.2f ms                     jpeg %lld bytes\n", n, qlonglong(naiveBytes));
    std::printf("ratios: ours/floor %.2f (limit 1.50; of the medians %.2f), naive/floor %.2f, jpeg ours/floor %.3f "
                "(limit within 10%%)\n",
        median(paired), o / f, n / f, double(oursBytes) / double(floorBytes));
    std::printf("after %d partial changes with pointer moves, against a full capture: largest channel difference "
                "%d (limit 8), identical bytes %d of %d\n",
        kPartialChanges, worst, identical, kPartialChanges);
    return 0;
}
