#pragma once

#include "platform/RemoteDesktop.h"
#include "platform/linux/FrameEncoder.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>
#include <vector>

namespace pelk::platform {

class PipeWireStream;

// GNOME's Wayland display for remote support, through Mutter's own services: a remote-desktop
// session with a screen cast of the primary monitor (pointer drawn in) read from PipeWire, and
// the session's pointer and keyboard for input. The Mutter session starts when the main display
// is first looked up and stops some seconds after the last frame was asked for, so GNOME shows
// its screen-sharing indicator only while a support session runs. Mutter closing the session or
// the stream ending withdraws capture and control until then.
class MutterRemoteDesktop : public QObject, public RemoteDesktop {
    Q_OBJECT
public:
    explicit MutterRemoteDesktop(QDBusConnection bus, QObject *parent = nullptr);
    ~MutterRemoteDesktop() override;

    // Whether Mutter's screen-cast and remote-desktop services are on the bus: make one only then.
    static bool offeredOn(const QDBusConnection &bus);

    bool isShareableSession() override;
    bool capturePermitted() override;
    std::optional<QRect> mainDisplayBounds() override;
    void findMainDisplay(std::function<void(std::optional<MainDisplay>)> done) override;
    void captureJpeg(const MainDisplay &display, QSize size, int quality,
        std::function<void(std::optional<QByteArray>)> done) override;
    // The newest picture encoded at once (also used by the frame benchmark); nothing while the
    // cast is not running.
    std::optional<QByteArray> captureJpegNow(QSize size, int quality);

    bool controlPermitted() override;
    bool postMouse(MouseEvent kind, QPointF at, int clickState, Button button) override;
    bool postScroll(qint32 lines) override;
    bool postKey(Key key, Modifiers modifiers, bool down) override;

private Q_SLOTS:
    void sessionClosed();
    void streamAdded(uint node);
    void streamPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &);

private:
    enum class State { Idle, Starting, Running, Lost };
    using Step = std::function<void(const QDBusMessage &reply)>;

    void start();
    void recordMonitor(const QDBusMessage &cast);
    // One step of the start: an asynchronous call whose answer goes to next while the same
    // start is still on; any error gives the start up.
    void call(const QString &service, const QString &path, const QString &interface, const QString &method,
        const QVariantList &args, Step next);
    // A call whose answer is not waited for, on a session's object.
    bool notify(const QString &path, const QString &interface, const QString &method, const QVariantList &args);
    void readParameters();
    void takeParameters(const QVariantMap &parameters);
    void finishStart(bool ok);
    void tearDown();
    void keepAlive();
    bool postMotion(QPointF at);

    QDBusConnection m_bus;
    State m_state = State::Idle;
    // Counts sessions, so that answers for an earlier one are dropped.
    quint32 m_generation = 0;
    QString m_remoteSession;
    QString m_castSession;
    QString m_streamPath;
    PipeWireStream *m_stream = nullptr;
    std::vector<std::function<void(std::optional<MainDisplay>)>> m_waiting;
    QTimer m_startTimeout;
    QTimer m_idle;
    // The monitor in global (logical) coordinates, and stream pixels per logical unit.
    QPoint m_position;
    QSize m_logicalSize;
    double m_scale = 1.0;
    FrameEncoder m_encoder;
};

} // namespace pelk::platform
