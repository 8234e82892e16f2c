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
};

} // namespace pelk::fakes
