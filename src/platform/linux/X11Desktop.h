#pragma once

#include "platform/RemoteDesktop.h"
#include "platform/linux/FrameEncoder.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <optional>
#include <tuple>
#include <vector>

struct xcb_connection_t;
struct xcb_xfixes_get_cursor_image_reply_t;

namespace pelk::platform {

// The X11 display for remote support: MIT-SHM pictures of the primary RandR monitor (the
// whole screen without one) with the XFixes pointer drawn in, and XTEST input. A Wayland
// session is never shared, even through Xwayland, which sees only its own clients.
// The last picture is kept: DAMAGE says which parts of the screen changed since, and only
// those are read and scaled again; with nothing changed, the last frame is sent again.
class X11Desktop : public QObject, public RemoteDesktop {
    Q_OBJECT
public:
    // Connects to $DISPLAY unless the session is a Wayland one.
    explicit X11Desktop(QObject *parent = nullptr);
    ~X11Desktop() override;

    bool isShareableSession() override;
    bool capturePermitted() override;
    std::optional<QRect> mainDisplayBounds() override;
    void findMainDisplay(std::function<void(std::optional<MainDisplay>)> done) override;
    void captureJpeg(const MainDisplay &display, QSize size, int quality,
        std::function<void(std::optional<QByteArray>)> done) override;
    // The capture on its own, synchronously (also used by the frame benchmark).
    std::optional<QByteArray> captureJpegNow(QSize size, int quality);

    bool controlPermitted() override;
    bool postMouse(MouseEvent kind, QPointF at, int clickState, Button button) override;
    bool postScroll(qint32 lines) override;
    bool postKey(Key key, Modifiers modifiers, bool down) override;

private:
    bool ensureSegment(qsizetype bytes);
    void releaseSegment();
    void startWatching();
    void stopWatching();
    std::optional<QList<QRect>> takeDamage(const QRect &bounds);
    bool readRows(const QRect &bounds, int top, int rows);
    void drawCursor(const xcb_xfixes_get_cursor_image_reply_t *cursor, const QRect &bounds, int stride);
    void restoreUnderCursor(int stride);
    QRect screen();
    bool usesEvdevKeycodes();
    quint8 keycodeFor(Key key);
    void loadKeyboardMapping();
    void drainEvents();
    bool fakeInput(quint8 type, quint8 detail, int x = 0, int y = 0);

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    bool m_wayland = false;
    bool m_shm = false;
    bool m_xtest = false;
    bool m_randr = false;
    bool m_xfixes = false;
    // One shared-memory segment, kept while its size fits.
    int m_shmId = -1;
    quint32 m_shmSeg = 0;
    uchar *m_shmAddress = nullptr;
    qsizetype m_shmBytes = 0;
    FrameEncoder m_encoder;
    // Root window damage, moved into an XFixes region each frame; both 0 while not watching.
    // A support session asks every half second; some seconds without a frame end the watching.
    static constexpr int kWatchForMs = 10000;
    bool m_damageAvailable = false;
    quint32 m_damage = 0;
    quint32 m_damaged = 0;
    QTimer m_idle;
    // The pointer as drawn: position and XFixes cursor serial.
    using Pointer = std::tuple<qint16, qint16, quint32>;
    // The last frame and what it was taken of; the segment holds its picture.
    struct Frame {
        QRect bounds;
        QSize size;
        int quality = 0;
        std::optional<Pointer> pointer;
        QByteArray jpeg;
    };
    std::optional<Frame> m_last;
    // The segment's pixels beneath the drawn pointer (picture coordinates).
    QRect m_cursorRect;
    std::vector<uchar> m_underCursor;
    // The keyboard as last read (both dropped when the server says it changed).
    QHash<quint32, quint8> m_keycodes;
    std::optional<bool> m_evdevKeycodes;
};

} // namespace pelk::platform
