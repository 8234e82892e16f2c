// Frame benchmark: the support frame path against a minimal floor and the naive Qt path, on
// the X display in $DISPLAY (a 2560x1440 Xvfb showing the reference screen). See README.md.

#include "boundary/LocalApi.h"
#include "platform/linux/X11Desktop.h"
#include "support/RemoteSupportController.h"

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QJsonObject>
#include <QPixmap>
#include <QScreen>

#include <turbojpeg.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kFramesPerRun = 20;

double processCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// The X server's CPU time from /proc, in ms (clock-tick resolution; runs are long enough).
qint64 g_serverPid = 0;
double serverCpuMs()
{
    if (g_serverPid <= 0)
        return 0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(g_serverPid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
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

Sample measure(const std::function<qsizetype()> &frame)
{
    frame(); // warm up (segment, encoder, caches)
    const double app0 = processCpuMs();
    const double server0 = serverCpuMs();
    qsizetype bytes = 0;
    for (int i = 0; i < kFramesPerRun; ++i)
        bytes = frame();
    return Sample { (processCpuMs() - app0) / kFramesPerRun, (serverCpuMs() - server0) / kFramesPerRun, bytes };
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

// Paints the reference picture on the root window so every path captures the same screen.
bool showOnRoot(xcb_connection_t *c, xcb_screen_t *screen, const QString &path)
{
    QImage image(path);
    if (image.isNull())
        return false;
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
    xcb_change_window_attributes(c, screen->root, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_clear_area(c, 0, screen->root, 0, 0, 0, 0);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
    if (!showOnRoot(c, screen, QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    g_serverPid = findServerPid(qgetenv("DISPLAY"));
    const int width = screen->width_in_pixels;
    const int height = screen->height_in_pixels;
    const QSize out = pelk::support::RemoteSupportController::pictureSize(QSizeF(width, height));

    pelk::platform::X11Desktop desktop;
    Floor floor(c, screen->root, width, height);
    const auto ours = [&] {
        const std::optional<QByteArray> jpeg
            = desktop.captureJpegNow(out, pelk::support::RemoteSupportController::kJpegQuality);
        if (!jpeg)
            return qsizetype(0);
        QJsonObject body { { QStringLiteral("action"), QStringLiteral("frame") },
            { QStringLiteral("session_id"), QStringLiteral("s") },
            { QStringLiteral("jpeg"), QString::fromLatin1(jpeg->toBase64()) } };
        return pelk::boundary::jsonBody(body).isEmpty() ? 0 : jpeg->size();
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

    std::vector<double> oursTotal, oursServer, floorTotal, naiveTotal;
    qsizetype oursBytes = 0, floorBytes = 0, naiveBytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        // Interleaved, so drift on a noisy machine hits all three alike.
        const Sample a = measure(ours);
        const Sample b = measure([&] { return floor.frame(out.width(), out.height()); });
        const Sample n = measure(naive);
        oursTotal.push_back(a.total());
        oursServer.push_back(a.serverMs);
        floorTotal.push_back(b.total());
        naiveTotal.push_back(n.total());
        oursBytes = a.jpegBytes;
        floorBytes = b.jpegBytes;
        naiveBytes = n.jpegBytes;
    }
    const double o = median(oursTotal), f = median(floorTotal), n = median(naiveTotal);
    std::printf("screen %dx%d -> %dx%d, %d runs of %d frames, CPU per frame (app + X server), median\n", width, height,
        out.width(), out.height(), kRuns, kFramesPerRun);
    std::printf("  ours   %7.2f ms (X server %.2f ms)  jpeg %lld bytes\n", o, median(oursServer), qlonglong(oursBytes));
    std::printf("  floor  %7.2f ms                     jpeg %lld bytes\n", f, qlonglong(floorBytes));
    std::printf("  naive  %7.2f ms                     jpeg %lld bytes\n", n, qlonglong(naiveBytes));
    std::printf("ratios: ours/floor %.2f (limit 1.50), naive/floor %.2f, jpeg ours/floor %.3f (limit within 10%%)\n",
        o / f, n / f, double(oursBytes) / double(floorBytes));
    std::printf("streaming at 2 frames/s: %.2f %% of one core (limit 3 %%)\n", o * 2 / 1000.0 * 100.0);
    return 0;
}
