#pragma once

#include <QDBusConnection>
#include <QString>

namespace pelk::platform {

// Whether logind knows the session as a Wayland one.
bool logindSaysWayland(const QDBusConnection &bus, const QString &sessionId);

// Whether this process runs in a Wayland session: WAYLAND_DISPLAY or XDG_SESSION_TYPE say so,
// or logind's type of this session does (asked once per process). Decided by the session, never
// by the display Qt happened to open: a Wayland session's X server (Xwayland) sees only its own
// clients, so nothing of the real screen, its input or its power state is reached through it.
bool isWaylandSession();

} // namespace pelk::platform
