#pragma once

#include "platform/SessionLocker.h"

#include <QDBusConnection>
#include <QString>

namespace pelk::platform {

// Asks systemd-logind to lock this process's login session (logind::currentSessionId()).
class LogindSessionLocker final : public SessionLocker {
public:
    explicit LogindSessionLocker(QDBusConnection bus, QString sessionId);
    // The system bus and the session from the environment.
    static LogindSessionLocker forCurrentSession();

    bool lockSession() override;

private:
    QDBusConnection m_bus;
    QString m_sessionId;
};

} // namespace pelk::platform
