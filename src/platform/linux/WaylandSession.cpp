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
} // namespace

bool logindSaysWayland(const QDBusConnection &bus, const QString &sessionId)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage find = QDBusMessage::createMethodCall(kService, kManagerPath, kManagerInterface, u"GetSession"_s);
    find << sessionId;
    const QDBusReply<QDBusObjectPath> session = bus.call(find, QDBus::Block, kCallTimeoutMs);
    if (!session.isValid())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(kService, session.value().path(), kPropertiesInterface, u"Get"_s);
    get << QString(kSessionInterface) << u"Type"_s;
    const QDBusReply<QVariant> type = bus.call(get, QDBus::Block, kCallTimeoutMs);
    return type.isValid() && type.value().toString() == u"wayland"_s;
}

bool isWaylandSession()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariable("XDG_SESSION_TYPE").compare("wayland"_L1, Qt::CaseInsensitive) == 0)
        return true;
    static const bool byLogind = logindSaysWayland(QDBusConnection::systemBus(), currentSessionId());
    return byLogind;
}

} // namespace pelk::platform
