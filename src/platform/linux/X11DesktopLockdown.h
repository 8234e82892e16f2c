#pragma once

#include "platform/DesktopLockdown.h"
#include "platform/linux/X11ConsoleSwitchKeys.h"

#include <QStringList>

#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace pelk::platform {

class X11LockKeeper;

// The lockdown on X11: the keyboard and the pointer actively grabbed by this client, so no
// other window, window-manager shortcut or switcher sees input; the grabs are requested
// again on every force (a grab another client held, or one lost with its window, comes
// back with the next force) and every reply is checked. Off X11 it does nothing and
// reports held: there is nothing to wait for.
class X11DesktopLockdown : public DesktopLockdown {
public:
    // Uses the application's own X connection (the grabs must belong to the client whose
    // windows get the input).
    X11DesktopLockdown();
    explicit X11DesktopLockdown(xcb_connection_t *connection);
    ~X11DesktopLockdown() override;

    void saveState() override;
    bool force(quintptr keyWindow) override;
    void restore() override;
    void keepCovering(const QList<quintptr> &windows, std::function<void()> changed) override;
    QList<QRect> screens() const override;

    // Whether the display answers.
    bool connected() const { return m_root != 0; }
    // Whether the window has the keyboard focus.
    bool hasFocus(quintptr window) const;
    // The window's WM_CLASS: its instance and class names.
    QStringList windowClass(quintptr window) const;

private:
    bool grabKeyboard(uint32_t window);
    bool grabPointer(uint32_t window);

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint32_t m_savedFocus = 0;
    X11ConsoleSwitchKeys m_consoleKeys;
    // Only while locked: it has a connection of its own.
    std::unique_ptr<X11LockKeeper> m_keeper;
};

} // namespace pelk::platform
