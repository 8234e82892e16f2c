#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <functional>

struct xcb_connection_t;
class QSocketNotifier;

namespace pelk::platform {

// The monitors of the screen whose root is given, in device pixels: RandR's list, or the
// whole root when RandR names none; empty without RandR 1.5 (Xinerama), where the toolkit's
// own list is all there is.
QList<QRect> x11Monitors(xcb_connection_t *connection, uint32_t root);

// Keeps the lock windows up from the X server's own events rather than on a tick: on a
// connection of its own it hears every top-level window map, move and restack (including
// override-redirect pop-ups), the lock windows' unmaps and visibility, and RandR's screen
// changes. A lock window found unmapped is mapped again, one moved is put back on its
// monitor, and any other window above them is covered again; changed() follows a re-map
// (the grabs died with the unmapped window) and every screen change.
class X11LockKeeper : public QObject {
public:
    X11LockKeeper();
    ~X11LockKeeper() override;

    // The lock windows, the first one topmost; the i-th covers the i-th monitor.
    void keep(const QList<quintptr> &windows, std::function<void()> changed);

private:
    void readEvents();
    // Puts the lock windows back where they belong when something moved them or came above.
    void restore();

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint8_t m_randrEvent = 0;
    QSocketNotifier *m_notifier = nullptr;
    QList<uint32_t> m_windows;
    std::function<void()> m_changed;
    QTimer m_restore;
    // A client that raises itself whenever covered would otherwise hold this one in a tight loop.
    QElapsedTimer m_lastRestore;
};

} // namespace pelk::platform
