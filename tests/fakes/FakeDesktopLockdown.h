#pragma once

#include "platform/DesktopLockdown.h"

namespace pelk::fakes {

// The desktop as the user finds it: its own state, or shut out behind the lock with input
// going to keyWindow. refusals plays another client holding the grab for that many forces.
class FakeDesktopLockdown : public platform::DesktopLockdown {
public:
    enum State { Normal, Custom, Locked };
    State current = Custom, saved = Normal;
    quintptr keyWindow = 0;
    int refusals = 0;
    QList<QRect> monitors;
    QList<quintptr> kept;
    std::function<void()> changed;

    void saveState() override { saved = current; }
    void restore() override { current = saved; }
    bool force(quintptr window) override
    {
        if (refusals-- > 0)
            return false;
        current = Locked;
        keyWindow = window;
        return true;
    }
    void keepCovering(const QList<quintptr> &windows, std::function<void()> onChange) override
    {
        kept = windows;
        changed = std::move(onChange);
    }
    QList<QRect> screens() const override { return monitors; }
};

} // namespace pelk::fakes
