#pragma once

#include <QDBusConnection>
#include <QString>

namespace pelk::platform {

enum class SessionKind { X11, Wayland };

// logind's Type of the session ("x11", "wayland", "tty"...), empty when it does not answer.
QString logindSessionType(const QDBusConnection &bus, const QString &sessionId);

// The session's kind from what describes the session itself: logind's type when it knows, else
// Wayland when XDG_SESSION_TYPE or WAYLAND_DISPLAY says so. Never the display Qt happened to open: a
// Wayland session's X server (Xwayland) sees only its own clients, so nothing of the real
// screen, its input or its power state is reached through it.
SessionKind sessionKind(const QString &logindType, const QString &xdgSessionType, const QString &waylandDisplay);

// sessionKind of this process's session (logind asked once per process).
bool isWaylandSession();

// Who holds the device while the lock is on a Wayland session.
enum class WaylandHolder {
    // GNOME: the PIN pad on Xwayland with a keyboard grab Mutter grants to this application,
    // and GNOME's own lock screen whenever the PIN pad is not in front with the keyboard.
    XwaylandGrab,
    // Any other compositor: its own lock screen, through logind, for as long as the lock holds.
    SessionLock,
};

// currentDesktop is XDG_CURRENT_DESKTOP; onXwayland whether the lock's windows are on Xwayland.
WaylandHolder waylandHolder(const QString &currentDesktop, bool onXwayland);

} // namespace pelk::platform
