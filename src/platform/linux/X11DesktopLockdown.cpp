#include "platform/linux/X11DesktopLockdown.h"

#include "platform/linux/X11LockKeeper.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace pelk::platform {

namespace {

xcb_connection_t *applicationConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

X11DesktopLockdown::X11DesktopLockdown() : X11DesktopLockdown(applicationConnection())
{
}

X11DesktopLockdown::X11DesktopLockdown(xcb_connection_t *connection) : m_connection(connection)
{
    if (!m_connection || xcb_connection_has_error(m_connection))
        return;
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    if (screens.rem > 0)
        m_root = screens.data->root;
}

X11DesktopLockdown::~X11DesktopLockdown() = default;

void X11DesktopLockdown::saveState()
{
    m_savedFocus = 0;
    if (!m_root)
        return;
    xcb_get_input_focus_reply_t *reply
        = xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr);
    if (reply) {
        m_savedFocus = reply->focus;
        std::free(reply);
    }
    m_consoleKeys.take(m_connection);
}

bool X11DesktopLockdown::grabKeyboard(uint32_t window)
{
    // owner_events false: every key goes to the lock, whichever window has the focus.
    xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(m_connection,
        xcb_grab_keyboard(m_connection, 0, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    const bool held = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    return held;
}

bool X11DesktopLockdown::grabPointer(uint32_t window)
{
    // owner_events true: each lock window still gets its own clicks; everything else is ours.
    const uint16_t mask = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;
    xcb_grab_pointer_reply_t *reply = xcb_grab_pointer_reply(m_connection,
        xcb_grab_pointer(m_connection, 1, window, mask, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE,
            XCB_CURRENT_TIME),
        nullptr);
    const bool held = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    return held;
}

bool X11DesktopLockdown::force(quintptr keyWindow)
{
    // Without the display nothing is held: the controller keeps trying, and the lock stays.
    if (!m_root || xcb_connection_has_error(m_connection))
        return false;
    // Asked again every time: grabbing what this client already holds only moves the grab,
    // and a grab dies silently with its window when the lock windows are rebuilt.
    const auto target = static_cast<uint32_t>(keyWindow);
    const bool keyboard = (target && grabKeyboard(target)) || grabKeyboard(m_root);
    const bool pointer = (target && grabPointer(target)) || grabPointer(m_root);
    xcb_flush(m_connection);
    return keyboard && pointer;
}

void X11DesktopLockdown::keepCovering(const QList<quintptr> &windows, std::function<void()> changed)
{
    if (!m_root)
        return;
    if (!m_keeper)
        m_keeper = std::make_unique<X11LockKeeper>();
    m_keeper->keep(windows, std::move(changed));
}

bool X11DesktopLockdown::hasFocus(quintptr window) const
{
    if (!m_root || xcb_connection_has_error(m_connection))
        return false;
    xcb_get_input_focus_reply_t *reply
        = xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr);
    const bool focused = reply && reply->focus == static_cast<uint32_t>(window);
    std::free(reply);
    return focused;
}

QStringList X11DesktopLockdown::windowClass(quintptr window) const
{
    if (!m_root || xcb_connection_has_error(m_connection))
        return {};
    xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection,
        xcb_get_property(m_connection, 0, static_cast<uint32_t>(window), XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
        nullptr);
    QStringList names;
    if (reply && reply->format == 8) {
        const QByteArray value(
            static_cast<const char *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        for (const QByteArray &name : value.split('\0'))
            names.append(QString::fromLocal8Bit(name));
    }
    std::free(reply);
    return names;
}

QList<QRect> X11DesktopLockdown::screens() const
{
    if (!m_root || xcb_connection_has_error(m_connection))
        return {};
    // The toolkit works in device-independent pixels: a monitor keeps its origin, its size scales.
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QList<QRect> frames = x11Monitors(m_connection, m_root);
    for (QRect &frame : frames)
        frame.setSize((QSizeF(frame.size()) / ratio).toSize());
    return frames;
}

void X11DesktopLockdown::restore()
{
    m_keeper.reset();
    m_consoleKeys.giveBack();
    if (!m_root || xcb_connection_has_error(m_connection))
        return;
    xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
    xcb_ungrab_pointer(m_connection, XCB_CURRENT_TIME);
    if (m_savedFocus > XCB_INPUT_FOCUS_POINTER_ROOT) {
        // The window that had the focus may be gone by now; that error is expected and dropped.
        xcb_void_cookie_t cookie
            = xcb_set_input_focus_checked(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, m_savedFocus, XCB_CURRENT_TIME);
        std::free(xcb_request_check(m_connection, cookie));
    }
    xcb_flush(m_connection);
}

} // namespace pelk::platform
