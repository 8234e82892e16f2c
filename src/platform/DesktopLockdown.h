#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include <functional>

namespace pelk::platform {

class CompositorLock;

// Shuts the rest of the desktop out while the lock is shown: no other window, shortcut,
// application switcher or session end can be reached. The state from before is kept and
// put back on restore.
class DesktopLockdown {
public:
    virtual ~DesktopLockdown() = default;
    // Remember the desktop's current state (called when the first lock window appears).
    virtual void saveState() = 0;
    // Take (or re-take) everything the lock needs; keyWindow receives the input. False while
    // another client still holds part of it: the caller tries again soon.
    virtual bool force(quintptr keyWindow) = 0;
    // Give everything back as saved.
    virtual void restore() = 0;
    // Keeps these windows (the first one topmost, the i-th on the i-th of screens()) mapped, in
    // place and above every other window, answering the display's own events as they come rather
    // than the caller's next look. changed follows whatever may have cost the input (a window
    // unmapped and mapped again) and every change of the screens. Each call replaces the last.
    virtual void keepCovering(const QList<quintptr> &windows, std::function<void()> changed)
    {
        Q_UNUSED(windows);
        Q_UNUSED(changed);
    }
    // The screens as the display reports them at this moment (the toolkit's list can lag behind
    // it); empty where only the toolkit can say.
    virtual QList<QRect> screens() const { return {}; }
    // What this desktop cannot do while locked, told to the person in the status menu; empty
    // where the lock works in full.
    virtual QString limitation() const { return {}; }
    // The compositor's own session lock, where the lock screen is drawn into it rather than
    // shown as windows; null elsewhere.
    virtual CompositorLock *compositorLock() { return nullptr; }
};

} // namespace pelk::platform
