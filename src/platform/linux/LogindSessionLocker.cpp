#include "platform/linux/LogindSessionLocker.h"

#include "platform/linux/Logind.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>

namespace pelk::platform {

using namespace logind;

using namespace Qt::StringLiterals;

namespace {
// logind answers in milliseconds; never let a wedged bus hold the one-shot mode.
constexpr int kCallTimeoutMs = 5000;
} // namespace

LogindSessionLocker::LogindSessionLocker(QDBusConnection bus, QString sessionId)
    : m_bus(std::move(bus)), m_sessionId(std::move(sessionId))
{
}

LogindSessionLocker LogindSessionLocker::forCurrentSession()
{
    return LogindSessionLocker(QDBusConnection::systemBus(), currentSessionId());
}

bool LogindSessionLocker::lockSession()
{
    if (!m_bus.isConnected())
        return false;
    const QDBusReply<QDBusObjectPath> session = m_bus.call(getSession(m_sessionId), QDBus::Block, kCallTimeoutMs);
    if (!session.isValid() || session.value().path().isEmpty())
        return false;

    const QDBusMessage lock
        = QDBusMessage::createMethodCall(kService, session.value().path(), kSessionInterface, u"Lock"_s);
    const QDBusMessage reply = m_bus.call(lock, QDBus::Block, kCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace pelk::platform
