#pragma once

#include <QString>

namespace pelk::platform {

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
    // What this desktop cannot do while locked, told to the person in the status menu; empty
    // where the lock works in full.
    virtual QString limitation() const { return {}; }
};

} // namespace pelk::platform
