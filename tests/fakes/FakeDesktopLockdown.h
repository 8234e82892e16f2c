#pragma once

#include "platform/DesktopLockdown.h"

namespace pelk::fakes {

// The desktop as the user finds it: its own state, or shut out behind the lock with input
// going to keyWindow. refusals plays another client holding the grab for that many forces.
class FakeDesktopLockdown : public platform::DesktopLockdown {
public:
    enum State { Normal, Custom, Locked };
    State current = Custom;
    State saved = Normal;
    quintptr keyWindow = 0;
    int refusals = 0;

    void saveState() override { saved = current; }
    bool force(quintptr window) override
    {
        if (refusals > 0) {
            --refusals;
            return false;
        }
        current = Locked;
        keyWindow = window;
        return true;
    }
    void restore() override { current = saved; }
};

} // namespace pelk::fakes
