#pragma once

#include "platform/InputInjector.h"

#include <linux/input-event-codes.h>

#include <iterator>
#include <utility>

namespace pelk::platform {

// A key posted with modifiers held around it, the same on every display: going down, the
// left-hand modifier keys (by place) go down first, then the key; going up, the key comes up
// first, then the modifiers in reverse. press(key, down) posts one key; true when all went out.
template <typename Press>
bool postModifiedKey(InputInjector::Key key, InputInjector::Modifiers modifiers, bool down, Press press)
{
    using Modifier = InputInjector::Modifier;
    constexpr std::pair<Modifier, InputInjector::Key> held[]
        = { { Modifier::Shift, { KEY_LEFTSHIFT, 0xffe1 } }, { Modifier::Control, { KEY_LEFTCTRL, 0xffe3 } },
              { Modifier::Alt, { KEY_LEFTALT, 0xffe9 } }, { Modifier::Super, { KEY_LEFTMETA, 0xffeb } } };
    bool ok = true;
    if (down) {
        for (const auto &[flag, modifier] : held) {
            if (modifiers.testFlag(flag))
                ok = press(modifier, true) && ok;
        }
        return press(key, true) && ok;
    }
    ok = press(key, false);
    for (auto it = std::rbegin(held); it != std::rend(held); ++it) {
        if (modifiers.testFlag(it->first))
            ok = press(it->second, false) && ok;
    }
    return ok;
}

} // namespace pelk::platform
