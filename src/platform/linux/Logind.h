#pragma once

#include <QDBusMessage>
#include <QLatin1StringView>
#include <QString>
#include <QtGlobal>

// systemd-logind's D-Bus names, shared by everything that talks to it.
namespace pelk::platform::logind {

using namespace Qt::StringLiterals;

inline constexpr auto kService = "org.freedesktop.login1"_L1;
inline constexpr auto kManagerPath = "/org/freedesktop/login1"_L1;
inline constexpr auto kManagerInterface = "org.freedesktop.login1.Manager"_L1;
inline constexpr auto kSessionInterface = "org.freedesktop.login1.Session"_L1;
inline constexpr auto kPropertiesInterface = "org.freedesktop.DBus.Properties"_L1;

// This process's login session: XDG_SESSION_ID, else "auto", logind's own pick (the caller's
// session or the user's display session).
inline QString currentSessionId()
{
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    return id.isEmpty() ? u"auto"_s : id;
}

// The manager's call that names a session's object path.
inline QDBusMessage getSession(const QString &sessionId)
{
    QDBusMessage find = QDBusMessage::createMethodCall(kService, kManagerPath, kManagerInterface, u"GetSession"_s);
    find << sessionId;
    return find;
}

} // namespace pelk::platform::logind
