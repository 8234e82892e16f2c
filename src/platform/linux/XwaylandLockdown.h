#pragma once

#include "platform/DesktopLockdown.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pelk::platform {

// The lockdown of GNOME on Wayland. The lock windows live on Xwayland (override-redirect, above
// every Wayland window) and hold the keyboard with an X grab, which Mutter turns into the
// compositor's own keyboard grab for applications its xwayland-grab-access-rules allow (the
// package's GSettings override). Mutter tells no X client whether it granted that grab, and the
// person can end it (Super+Escape); so whenever the PIN pad is not the window with the keyboard
// the session is locked through logind, and GNOME's own lock screen holds the desktop until the
// PIN pad is back in front with the keyboard. A new lock gives the PIN pad a moment to come up
// first, so that a lock that works does not start with GNOME's lock screen.
class XwaylandLockdown final : public DesktopLockdown {
public:
    // grabs: the X11 lockdown on Xwayland; sessionLock: the logind one; hasKeyboard: whether the
    // key window has the keyboard focus.
    XwaylandLockdown(std::unique_ptr<DesktopLockdown> grabs, std::unique_ptr<DesktopLockdown> sessionLock,
        std::function<bool(quintptr)> hasKeyboard);

    void saveState() override;
    bool force(quintptr keyWindow) override;
    void restore() override;
    void keepCovering(const QList<quintptr> &windows, std::function<void()> changed) override;
    QList<QRect> screens() const override;
    QString limitation() const override;

private:
    std::unique_ptr<DesktopLockdown> m_grabs;
    std::unique_ptr<DesktopLockdown> m_sessionLock;
    std::function<bool(quintptr)> m_hasKeyboard;
    bool m_padHolds = false;
    // Until the PIN pad first holds: it is given a moment to map and be granted the keyboard.
    std::optional<std::chrono::steady_clock::time_point> m_waitingSince;
};

} // namespace pelk::platform
