#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QRect>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace pelk::platform {

// One remote desktop session of the XDG desktop portal (org.freedesktop.portal.RemoteDesktop
// with ScreenCast): a keyboard, a pointer and one monitor, negotiated one Request at a time, then
// driven by Notify calls until closed. Closed when destroyed.
class PortalSession : public QObject {
    Q_OBJECT
public:
    // What the portal offers, read from its properties.
    struct Offer {
        bool embeddedCursor = false;
        // RemoteDesktop version 2 or later: the grant can outlast the session through a restore
        // token. Before it (xdg-desktop-portal 1.16 and older) the user is asked every time.
        bool restorable = false;
    };
    struct Started {
        // The monitor's PipeWire node, and its place and logical size among the compositor's outputs.
        quint32 node = 0;
        QRect area;
        QDBusUnixFileDescriptor pipeWire;
    };
    static constexpr quint32 kKeyboard = 1;
    static constexpr quint32 kPointer = 2;

    // Whether the portal runs on the bus or can be started by it (the bus itself answers).
    static bool reachable(const QDBusConnection &bus);
    // Reads the portal's properties: nothing when it lacks remote desktop sessions of a keyboard,
    // a pointer and a monitor. Done runs later, unless context is gone.
    static void probe(const QDBusConnection &bus, QObject *context, std::function<void(std::optional<Offer>)> done);

    explicit PortalSession(const QDBusConnection &bus, QObject *parent = nullptr);
    ~PortalSession() override;

    // Asks the portal, whose dialog the user may answer; done gets nothing when the user refused
    // (keyboard and pointer are both granted otherwise) or anything failed. Called once per session.
    void start(const QString &restoreToken, const Offer &offer, std::function<void(std::optional<Started>)> done);
    // One RemoteDesktop.Notify* call with the session and empty options put in front of arguments.
    bool notify(const QString &method, const QVariantList &arguments);

Q_SIGNALS:
    // The portal closed the session (the user stopped sharing, the compositor ended it) or its
    // process went away.
    void closed();
    // The portal answered Start: the token to restore the next session with, empty for none
    // (a token is spent once offered).
    void restoreTokenChanged(const QString &token);

private Q_SLOTS:
    void response(uint code, const QVariantMap &results, const QDBusMessage &message);
    void sessionClosed();

private:
    using Step = std::function<void(const QVariantMap &results)>;
    void request(
        const QString &interface, const QString &method, QVariantList arguments, QVariantMap options, Step next);
    void listen(const QString &requestPath);
    void startDevices(const QString &restoreToken, const Offer &offer);
    void openPipeWire(Started started);
    void finish(std::optional<Started> started);
    QString objectPath(const QString &kind, const QString &token) const;

    QDBusConnection m_bus;
    QString m_session;
    std::function<void(std::optional<Started>)> m_done;
    // The one Request awaited: its path (the predicted one, and the one the portal named) and what follows.
    QStringList m_requestPaths;
    Step m_next;
    bool m_tokenAtStake = false;
    // A portal that never answers must not keep the caller waiting for ever; a dialog takes its time.
    QTimer m_timeout;
};

} // namespace pelk::platform
