#pragma once

#include "platform/ConsoleSession.h"
#include "platform/DesktopLockdown.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace pelk::platform {

// The lockdown of a Wayland session. There no client can hold the keyboard or keep other
// windows away: only the compositor's own lock screen holds the desktop. So while the
// organisation's lock holds, the login session is kept locked through logind, asked again
// whenever it is found unlocked. The PIN pad behind that lock screen cannot be reached: such a
// device opens when the agent releases the lock, never by itself.
class LogindSessionLockdown final : public QObject, public DesktopLockdown {
    Q_OBJECT
public:
    // session answers whether the screen is locked (logind's LockedHint).
    LogindSessionLockdown(QDBusConnection bus, QString sessionId, std::unique_ptr<ConsoleSession> session);

    void saveState() override { }
    // Held only while the session's screen is locked; asks for the lock otherwise.
    bool force(quintptr keyWindow) override;
    // The session stays locked: the person unlocks it as they always do.
    void restore() override { }
    QString limitation() const override;

private:
    void askForLock();

    QDBusConnection m_bus;
    QString m_sessionId;
    std::unique_ptr<ConsoleSession> m_session;
    QString m_sessionPath;
    bool m_asking = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastAsked;
};

} // namespace pelk::platform
