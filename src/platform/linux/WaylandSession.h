#pragma once

#include <QtGlobal>

namespace pelk::platform {

// A Wayland session's X server (Xwayland) sees only its own clients: nothing of the real
// screen or its power state can be learnt or done through it.
inline bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1StringView("wayland"), Qt::CaseInsensitive) == 0;
}

} // namespace pelk::platform
