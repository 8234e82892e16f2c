#pragma once

#include "platform/RemoteDesktop.h"
#include "platform/linux/FrameEncoder.h"
#include "platform/linux/PortalSession.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

namespace pelk::platform {

// The pictures of the monitor a portal session shares.
class PortalFrames {
public:
    // 32-bit BGRX rows, valid until the next call.
    struct Picture {
        const uchar *pixels = nullptr;
        int width = 0;
        int height = 0;
        int stride = 0;
        // The same serial is the same picture.
        quint64 serial = 0;
    };
    virtual ~PortalFrames() = default;
    // False once the stream has ended: the compositor stopped it or the connection broke.
    virtual bool running() = 0;
    // The newest picture; nothing before the first one arrived.
    virtual std::optional<Picture> latest() = 0;
};
// Opens the PipeWire node on the connection fd (which it owns from then on); null on failure.
// changed runs later, on the main thread, whenever a picture arrived or the stream ended.
using PortalFramesFactory
    = std::function<std::unique_ptr<PortalFrames>(int fd, quint32 node, std::function<void()> changed)>;
// The frames of a PipeWireStream.
std::unique_ptr<PortalFrames> openPipeWireFrames(int fd, quint32 node, std::function<void()> changed);

// Remote support on Wayland compositors through the XDG desktop portal. The session is asked for
// when the main display is looked up (with the portal's dialog; where the portal keeps grants, the
// restore token kept in tokenPath brings it back without one), found once its first picture came,
// kept while a support session uses it, and closed some seconds after the last use. The portal
// closing it, or its stream ending, withdraws the permission to capture until the support session
// has let go of it.
class PortalRemoteDesktop : public QObject, public RemoteDesktop {
    Q_OBJECT
public:
    PortalRemoteDesktop(
        const QDBusConnection &bus, QString tokenPath, PortalFramesFactory openFrames, QObject *parent = nullptr);
    ~PortalRemoteDesktop() override;

    bool isShareableSession() override;
    bool capturePermitted() override;
    std::optional<QRect> mainDisplayBounds() override;
    void findMainDisplay(std::function<void(std::optional<MainDisplay>)> done) override;
    void captureJpeg(const MainDisplay &display, QSize size, int quality,
        std::function<void(std::optional<QByteArray>)> done) override;

    bool controlPermitted() override;
    bool postMouse(MouseEvent kind, QPointF at, int clickState, Button button) override;
    bool postScroll(qint32 lines) override;
    bool postKey(Key key, Modifiers modifiers, bool down) override;

    // How long a session stays open with no frame or input asked of it.
    static constexpr int kIdleMs = 10000;

private:
    void started(std::optional<PortalSession::Started> started);
    void framesChanged();
    // Start gave the monitor's logical size for the first picture's; a new monitor mode shows
    // in the pictures' size, and the logical size (bounds, pointer) follows in proportion.
    void follow(const PortalFrames::Picture &picture);
    void answer(std::optional<MainDisplay> display);
    // Drops the session; revoked when the portal or the compositor ended it.
    void end(bool revoked);
    // The session in use, checked against its stream; null when there is none.
    PortalSession *live();
    void keepToken(const QString &token);

    QDBusConnection m_bus;
    QString m_tokenPath;
    PortalFramesFactory m_openFrames;
    std::optional<PortalSession::Offer> m_offer;
    // Asked for and not yet answered while m_stream is unset; started once it is set; shared
    // once its first picture came, when no lookup waits any more.
    std::unique_ptr<PortalSession> m_session;
    std::optional<PortalSession::Started> m_stream;
    // Logical units per picture pixel.
    QSizeF m_scale;
    std::vector<std::function<void(std::optional<MainDisplay>)>> m_waiting;
    std::unique_ptr<PortalFrames> m_frames;
    bool m_revoked = false;
    QTimer m_idle;
    FrameEncoder m_encoder;
};

} // namespace pelk::platform
