#pragma once

#include "platform/ConsoleSession.h"

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

class QDBusMessage;
class QDBusPendingCallWatcher;

namespace pelk::platform {

// This login session as systemd-logind sees it: LockedHint and Active, kept fresh from
// logind's property changes and a read on every question; the session's Lock signal, Active
// turning false and PrepareForSleep end a shared session (the X server's own display sleep is
// X11DisplaySleepWatcher's). Without logind (or before it has answered) the session counts as
// unlocked and on the console.
class LogindConsoleSession : public ConsoleSession {
    Q_OBJECT
public:
    LogindConsoleSession(QDBusConnection bus, QString sessionId, QObject *parent = nullptr);
    // The session logind::currentSessionId() names.
    static LogindConsoleSession *forCurrentSession(QObject *parent = nullptr);

    Properties properties() override;

private Q_SLOTS:
    void onLock();
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void onPrepareForSleep(bool sleeping);

private:
    void resolve();
    void refresh();
    void take(const QVariantMap &values);

    QDBusConnection m_bus;
    const QString m_sessionId;
    QString m_path;
    bool m_resolving = false;
    bool m_refreshing = false;
    Properties m_cached;
};

} // namespace pelk::platform
