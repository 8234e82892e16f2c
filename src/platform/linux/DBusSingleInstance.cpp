#include "platform/linux/DBusSingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

// A running instance answers at once; one that is stuck must not hold this launch for long.
constexpr int kForwardTimeoutMs = 5000;

} // namespace

DBusSingleInstance::DBusSingleInstance(QString serviceName, QObject *parent)
    : SingleInstance(parent), m_serviceName(std::move(serviceName))
{
}

DBusSingleInstance::~DBusSingleInstance()
{
    if (!m_owned)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QString(kObjectPath));
    bus.unregisterService(m_serviceName);
}

bool DBusSingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return true; // nobody to ask: run on our own
    // The object first, so that a launch that sees the name can always reach it.
    if (!bus.registerObject(QString(kObjectPath), this, QDBusConnection::ExportScriptableSlots))
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
        m_serviceName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_owned = true;
        return true;
    }
    bus.unregisterObject(QString(kObjectPath));
    return false;
}

bool DBusSingleInstance::forward(const QStringList &files) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_serviceName, QString(kObjectPath), u"co.pelkcore.PelkAgent"_s, files.isEmpty() ? u"Reopen"_s : u"Open"_s);
    if (!files.isEmpty())
        call << files;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kForwardTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void DBusSingleInstance::Reopen()
{
    Q_EMIT reopenRequested();
}

void DBusSingleInstance::Open(const QStringList &files)
{
    Q_EMIT openRequested(files);
}

} // namespace pelk::platform
