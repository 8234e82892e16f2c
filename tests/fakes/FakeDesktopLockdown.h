#pragma once

#include "platform/DesktopLockdown.h"

namespace pelk::fakes {

// Records the lockdown the way the presentation options behave: a current value that is
// saved, forced and put back.
class FakeDesktopLockdown : public platform::DesktopLockdown {
public:
    enum State { Normal, Custom, Locked };
    State current = Custom;
    State saved = Normal;
    int saves = 0;
    int forces = 0;
    quintptr lastKeyWindow = 0;

    void saveState() override
    {
        saved = current;
        ++saves;
    }
    void force(quintptr keyWindow) override
    {
        current = Locked;
        lastKeyWindow = keyWindow;
        ++forces;
    }
    void restore() override { current = saved; }
};

} // namespace pelk::fakes
