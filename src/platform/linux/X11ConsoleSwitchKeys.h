#pragma once

#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace pelk::platform {

// The X server switches to a text console on Ctrl+Alt+F1…F12 whatever client holds the
// keyboard: the keys' SwitchScreen actions act inside the server. While the lock holds, those
// actions are taken out of the core keyboard's XKB map (and so out of every keyboard behind
// it), and the actions as they were are put back afterwards. Without XKB nothing changes: the
// lock holds regardless, and a log line says the console keys stay.
class X11ConsoleSwitchKeys {
public:
    X11ConsoleSwitchKeys() = default;
    X11ConsoleSwitchKeys(const X11ConsoleSwitchKeys &) = delete;
    X11ConsoleSwitchKeys &operator=(const X11ConsoleSwitchKeys &) = delete;
    // Puts the keys back if still taken (the connection must outlive this).
    ~X11ConsoleSwitchKeys();

    // Takes the actions out (once: a second call while taken does nothing).
    void take(xcb_connection_t *connection);
    // Puts back exactly the actions taken.
    void giveBack();

private:
    xcb_connection_t *m_connection = nullptr;
    // The keys changed, from m_first on: per key its number of actions, then all the actions
    // as the server sent them (8 bytes each).
    uint8_t m_first = 0;
    uint8_t m_minKeycode = 0;
    uint8_t m_maxKeycode = 0;
    std::vector<uint8_t> m_counts;
    std::vector<uint8_t> m_actions;
};

} // namespace pelk::platform
