#include "platform/linux/WaylandSession.h"

#include "platform/linux/Logind.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>

namespace pelk::platform {

using namespace logind;
using namespace Qt::StringLiterals;

namespace {
// Asked at start-up: a wedged logind must not hold the application up for long.
constexpr int kCallTimeoutMs = 1000;

std::optional<SessionKind> kindNamed(const QString &type)
{
    if (type.compare("wayland"_L1, Qt::CaseInsensitive) == 0)
        return SessionKind::Wayland;
    if (type.compare("x11"_L1, Qt::CaseInsensitive) == 0)
        return SessionKind::X11;
    return std::nullopt;
}
} // namespace

QString logindSessionType(const QDBusConnection &bus, const QString &sessionId)
{
    if (!bus.isConnected())
        return {};
    const QDBusReply<QDBusObjectPath> session = bus.call(getSession(sessionId), QDBus::Block, kCallTimeoutMs);
    if (!session.isValid())
        return {};
    QDBusMessage get = QDBusMessage::createMethodCall(kService, session.value().path(), kPropertiesInterface, u"Get"_s);
    get << QString(kSessionInterface) << u"Type"_s;
    const QDBusReply<QVariant> type = bus.call(get, QDBus::Block, kCallTimeoutMs);
    return type.isValid() ? type.value().toString() : QString();
}

SessionKind sessionKind(const QString &logindType, const QString &xdgSessionType, const QString &waylandDisplay)
{
    if (const auto kind = kindNamed(logindType))
        return *kind;
    // Without logind's word either variable saying Wayland decides: taking an X11 session for a
    // Wayland one only keeps the desktop's lock screen on, the other way round nothing is held.
    if (kindNamed(xdgSessionType) == SessionKind::Wayland || !waylandDisplay.isEmpty())
        return SessionKind::Wayland;
    return SessionKind::X11;
}

bool isWaylandSession()
{
    static const QString logindType = logindSessionType(QDBusConnection::systemBus(), currentSessionId());
    return sessionKind(logindType, qEnvironmentVariable("XDG_SESSION_TYPE"), qEnvironmentVariable("WAYLAND_DISPLAY"))
        == SessionKind::Wayland;
}

WaylandHolder waylandHolder(const QString &currentDesktop, bool onXwayland)
{
    // XDG_CURRENT_DESKTOP is a list ("ubuntu:GNOME"); only Mutter grants Xwayland grabs.
    const bool gnome = currentDesktop.split(u':').contains("GNOME"_L1, Qt::CaseInsensitive);
    return gnome && onXwayland ? WaylandHolder::XwaylandGrab : WaylandHolder::SessionLock;
}

} // namespace pelk::platform
