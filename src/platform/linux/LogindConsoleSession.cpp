#include "platform/linux/LogindConsoleSession.h"

#include "platform/linux/Logind.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace pelk::platform {

using namespace logind;

using namespace Qt::StringLiterals;

namespace {
// Asked twice a second; an answer later than this is no answer.
constexpr int kCallTimeoutMs = 1000;
} // namespace

LogindConsoleSession::LogindConsoleSession(QDBusConnection bus, QString sessionId, QObject *parent)
    : ConsoleSession(parent), m_bus(std::move(bus)), m_sessionId(std::move(sessionId))
{
    if (!m_bus.isConnected())
        return;
    // QtDBus offers only name-based connections for remote signals.
    m_bus.connect(kService, kManagerPath, kManagerInterface, u"PrepareForSleep"_s, this, SLOT(onPrepareForSleep(bool)));
    resolve();
}

LogindConsoleSession *LogindConsoleSession::forCurrentSession(QObject *parent)
{
    return new LogindConsoleSession(QDBusConnection::systemBus(), currentSessionId(), parent);
}

void LogindConsoleSession::resolve()
{
    if (m_resolving || !m_bus.isConnected())
        return;
    m_resolving = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(getSession(m_sessionId), kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        m_resolving = false;
        const QDBusPendingReply<QDBusObjectPath> reply = *call;
        if (reply.isError() || reply.value().path().isEmpty())
            return;
        m_path = reply.value().path();
        m_bus.connect(kService, m_path, kSessionInterface, u"Lock"_s, this, SLOT(onLock()));
        m_bus.connect(kService, m_path, kPropertiesInterface, u"PropertiesChanged"_s, this,
            SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
        refresh();
    });
}

void LogindConsoleSession::refresh()
{
    if (m_refreshing || m_path.isEmpty())
        return;
    m_refreshing = true;
    QDBusMessage get = QDBusMessage::createMethodCall(kService, m_path, kPropertiesInterface, u"GetAll"_s);
    get << QString(kSessionInterface);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        m_refreshing = false;
        const QDBusPendingReply<QVariantMap> reply = *call;
        if (reply.isError()) {
            m_cached = Properties {}; // no answer: unlocked and on the console
            return;
        }
        take(reply.value());
    });
}

void LogindConsoleSession::take(const QVariantMap &values)
{
    const auto boolean = [&values](const QString &name, bool fallback) {
        const QVariant value = values.value(name);
        return value.typeId() == QMetaType::Bool ? value.toBool() : fallback;
    };
    m_cached.screenIsLocked = boolean(u"LockedHint"_s, false);
    m_cached.onConsole = boolean(u"Active"_s, true);
}

ConsoleSession::Properties LogindConsoleSession::properties()
{
    // The answer is at most one question old; the change signals keep it current meanwhile.
    if (m_path.isEmpty())
        resolve();
    else
        refresh();
    return m_cached;
}

void LogindConsoleSession::onLock()
{
    Q_EMIT sessionEnded();
}

void LogindConsoleSession::onPropertiesChanged(
    const QString &interface, const QVariantMap &changed, const QStringList &invalidated)
{
    Q_UNUSED(invalidated);
    if (interface != kSessionInterface)
        return;
    QVariantMap merged;
    merged.insert(u"LockedHint"_s, m_cached.screenIsLocked);
    merged.insert(u"Active"_s, m_cached.onConsole);
    for (auto it = changed.begin(); it != changed.end(); ++it)
        merged.insert(it.key(), it.value());
    const bool wasActive = m_cached.onConsole;
    take(merged);
    if (wasActive && changed.contains(u"Active"_s) && !m_cached.onConsole)
        Q_EMIT sessionEnded();
}

void LogindConsoleSession::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        Q_EMIT sessionEnded();
}

} // namespace pelk::platform
