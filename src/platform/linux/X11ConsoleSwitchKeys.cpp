#include "platform/linux/X11ConsoleSwitchKeys.h"

#include <QLoggingCategory>

#include <xcb/xcb.h>
// xkb.h names a member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace pelk::platform {

namespace {

Q_LOGGING_CATEGORY(lcConsoleKeys, "pelk.lock")

constexpr size_t kActionBytes = 8;

size_t padded(size_t bytes)
{
    return (bytes + 3) & ~size_t(3);
}

// Sets the actions of keys first … first + counts.size() - 1 on the core keyboard (the server
// passes them on to every keyboard behind it); actions holds them all, 8 bytes each.
bool setActions(xcb_connection_t *c, uint8_t first, uint8_t minKeycode, uint8_t maxKeycode,
    const std::vector<uint8_t> &counts, const std::vector<uint8_t> &actions)
{
    std::vector<uint8_t> values(padded(counts.size()) + actions.size(), 0);
    std::memcpy(values.data(), counts.data(), counts.size());
    std::memcpy(values.data() + padded(counts.size()), actions.data(), actions.size());
    const xcb_void_cookie_t cookie = xcb_xkb_set_map_checked(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_ACTIONS,
        0, minKeycode, maxKeycode, 0, 0, 0, 0, 0, first, uint8_t(counts.size()),
        uint16_t(actions.size() / kActionBytes), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, values.data());
    xcb_generic_error_t *error = xcb_request_check(c, cookie);
    std::free(error);
    return !error;
}

} // namespace

X11ConsoleSwitchKeys::~X11ConsoleSwitchKeys()
{
    giveBack();
}

void X11ConsoleSwitchKeys::take(xcb_connection_t *c)
{
    if (m_connection || !c || xcb_connection_has_error(c))
        return;
    const xcb_query_extension_reply_t *xkb = xcb_get_extension_data(c, &xcb_xkb_id);
    std::unique_ptr<xcb_xkb_use_extension_reply_t, decltype(&std::free)> used(
        xkb && xkb->present ? xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr) : nullptr,
        &std::free);
    if (!used || !used->supported) {
        qCWarning(
            lcConsoleKeys, "the X server has no XKB: Ctrl+Alt+F1…F12 still switch to a text console while locked");
        return;
    }
    const xcb_setup_t *setup = xcb_get_setup(c);
    const int keys = setup->max_keycode - setup->min_keycode + 1;
    std::unique_ptr<xcb_xkb_get_map_reply_t, decltype(&std::free)> map(
        xcb_xkb_get_map_reply(c,
            xcb_xkb_get_map(c, XCB_XKB_ID_USE_CORE_KBD, 0, XCB_XKB_MAP_PART_KEY_ACTIONS, 0, 0, 0, 0, setup->min_keycode,
                uint8_t(keys), 0, 0, 0, 0, 0, 0, 0, 0, 0),
            nullptr),
        &std::free);
    if (!map || !(map->present & XCB_XKB_MAP_PART_KEY_ACTIONS)) {
        qCWarning(lcConsoleKeys, "the keyboard map cannot be read: the console keys stay while locked");
        return;
    }
    // The reply: one count per key, padded to 4 bytes, then every key's actions in turn.
    const size_t available = 32 + size_t(map->length) * 4 - sizeof(xcb_xkb_get_map_reply_t);
    const auto *data = static_cast<const uint8_t *>(xcb_xkb_get_map_map(map.get()));
    const size_t n = map->nKeyActions;
    if (padded(n) + size_t(map->totalActions) * kActionBytes > available)
        return;
    const uint8_t *actions = data + padded(n);
    // Which keys hold a console switch, and where each key's actions start.
    int firstChanged = -1;
    int lastChanged = -1;
    std::vector<size_t> starts(n + 1, 0);
    for (size_t key = 0; key < n; ++key) {
        starts[key + 1] = starts[key] + data[key];
        if (starts[key + 1] > map->totalActions)
            return;
        for (size_t a = starts[key]; a < starts[key + 1]; ++a) {
            if (actions[a * kActionBytes] == XCB_XKB_SA_TYPE_SWITCH_SCREEN) {
                firstChanged = firstChanged < 0 ? int(key) : firstChanged;
                lastChanged = int(key);
            }
        }
    }
    if (firstChanged < 0)
        return;
    m_first = uint8_t(map->firstKeyAction + firstChanged);
    m_minKeycode = map->minKeyCode;
    m_maxKeycode = map->maxKeyCode;
    m_counts.assign(data + firstChanged, data + lastChanged + 1);
    m_actions.assign(actions + starts[size_t(firstChanged)] * kActionBytes,
        actions + starts[size_t(lastChanged) + 1] * kActionBytes);
    // The same keys with every console switch made "no action" (all zero bytes).
    std::vector<uint8_t> without = m_actions;
    for (size_t at = 0; at < without.size(); at += kActionBytes) {
        if (without[at] == XCB_XKB_SA_TYPE_SWITCH_SCREEN)
            std::fill_n(without.begin() + std::ptrdiff_t(at), kActionBytes, uint8_t(0));
    }
    if (!setActions(c, m_first, m_minKeycode, m_maxKeycode, m_counts, without)) {
        qCWarning(lcConsoleKeys, "the X server kept the console keys: they still switch consoles while locked");
        return;
    }
    m_connection = c;
}

void X11ConsoleSwitchKeys::giveBack()
{
    xcb_connection_t *c = std::exchange(m_connection, nullptr);
    if (!c || xcb_connection_has_error(c))
        return;
    if (!setActions(c, m_first, m_minKeycode, m_maxKeycode, m_counts, m_actions))
        qCWarning(lcConsoleKeys, "the console keys could not be put back");
}

} // namespace pelk::platform
