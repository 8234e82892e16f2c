#pragma once

#include <QObject>

struct xcb_connection_t;
class QSocketNotifier;

namespace pelk::platform {

// Tells when the X server puts the displays to sleep: its screen saver activating, which the
// server also does on the way into every DPMS power-saving level, so one event covers both.
class X11DisplaySleepWatcher : public QObject {
    Q_OBJECT
public:
    // Watches $DISPLAY unless the session is a Wayland one; without a display it stays silent.
    explicit X11DisplaySleepWatcher(QObject *parent = nullptr);
    ~X11DisplaySleepWatcher() override;

    bool isWatching() const;

Q_SIGNALS:
    void displaysSlept();

private:
    void readEvents();

    xcb_connection_t *m_connection = nullptr;
    quint8 m_notifyEvent = 0;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pelk::platform
