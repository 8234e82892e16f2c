#include "platform/linux/X11LockKeeper.h"

#include <QSocketNotifier>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace pelk::platform {

namespace {

template <typename T> std::unique_ptr<T, decltype(&std::free)> own(T *reply)
{
    return { reply, &std::free };
}

// Fast enough to cover a pop-up before anyone can use it, slow enough that a client raising
// itself whenever covered costs little.
constexpr int kRestoreSpacingMs = 10;

} // namespace

QList<QRect> x11Monitors(xcb_connection_t *connection, uint32_t root)
{
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || !randr->present)
        return {};
    auto monitors = own(xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, root, 1), nullptr));
    auto whole = own(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, root), nullptr));
    if (!monitors || !whole)
        return {};
    const QRect screen(0, 0, whole->width, whole->height);
    QList<QRect> frames;
    QRect spanned;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
        if (it.data->width > 0 && it.data->height > 0) {
            frames.append(QRect(it.data->x, it.data->y, it.data->width, it.data->height));
            spanned |= frames.last();
        }
    }
    if (frames.isEmpty())
        return { screen };
    // Under Xinerama RandR names only the first head, and while a resize is under way the
    // monitors lag the root: then only the toolkit's list can say.
    return spanned == screen ? frames : QList<QRect>();
}

X11LockKeeper::X11LockKeeper()
{
    m_restore.setSingleShot(true);
    connect(&m_restore, &QTimer::timeout, this, &X11LockKeeper::restore);
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // Every top-level window's map, configure and restack, and the root's own size.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, m_root, XCB_CW_EVENT_MASK, &mask);
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (randr && randr->present) {
        std::free(xcb_randr_query_version_reply(connection, xcb_randr_query_version(connection, 1, 5), nullptr));
        m_randrEvent = randr->first_event;
        xcb_randr_select_input(connection, m_root,
            XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE
                | XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
    xcb_flush(connection);
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11LockKeeper::readEvents);
}

X11LockKeeper::~X11LockKeeper()
{
    delete m_notifier; // before its descriptor closes
    if (m_connection)
        xcb_disconnect(m_connection);
}

void X11LockKeeper::keep(const QList<quintptr> &windows, std::function<void()> changed)
{
    m_changed = std::move(changed);
    QList<uint32_t> ids;
    for (const quintptr window : windows)
        ids.append(uint32_t(window));
    if (!m_connection || ids == m_windows)
        return;
    m_windows = ids;
    // Asked of each new window: a window covered by another one, even partly, says so.
    const uint32_t mask = XCB_EVENT_MASK_VISIBILITY_CHANGE;
    for (const uint32_t id : std::as_const(m_windows))
        xcb_change_window_attributes(m_connection, id, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
    m_restore.start(0);
}

void X11LockKeeper::readEvents()
{
    bool look = false, screens = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        const uint8_t type = event->response_type & 0x7f;
        switch (type) {
        case XCB_MAP_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
        case XCB_REPARENT_NOTIFY:
            look = true;
            break;
        case XCB_CONFIGURE_NOTIFY:
            screens |= reinterpret_cast<xcb_configure_notify_event_t *>(event)->window == m_root;
            look = true;
            break;
        case XCB_UNMAP_NOTIFY:
            look |= m_windows.contains(reinterpret_cast<xcb_unmap_notify_event_t *>(event)->window);
            break;
        case XCB_VISIBILITY_NOTIFY: {
            const auto *visibility = reinterpret_cast<xcb_visibility_notify_event_t *>(event);
            look |= visibility->state != XCB_VISIBILITY_UNOBSCURED && m_windows.contains(visibility->window);
            break;
        }
        default:
            // RandR's screen change and its CRTC and output notices; errors are dropped.
            screens |= m_randrEvent
                && (type == m_randrEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == m_randrEvent + XCB_RANDR_NOTIFY);
        }
        std::free(event);
    }
    // A server gone away leaves the descriptor readable for ever; nothing more can come.
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
    if ((look || screens) && !m_restore.isActive())
        m_restore.start(m_lastRestore.isValid() ? std::max(0, kRestoreSpacingMs - int(m_lastRestore.elapsed())) : 0);
    // Queued: the lock may rebuild its windows and call keep() from there.
    if (screens)
        QMetaObject::invokeMethod(this, m_changed, Qt::QueuedConnection);
}

void X11LockKeeper::restore()
{
    m_lastRestore.start();
    xcb_connection_t *c = m_connection;
    if (m_windows.isEmpty() || xcb_connection_has_error(c))
        return;
    auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, m_root), nullptr));
    if (!tree)
        return;
    // Bottom to top: everything from the lowest lock window up must be a lock window, or unmapped.
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    int lowest = 0;
    while (lowest < count && !m_windows.contains(children[lowest]))
        ++lowest;
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    for (int i = lowest; i < count; ++i)
        attributes.push_back(xcb_get_window_attributes(c, children[i]));
    std::vector<xcb_get_geometry_cookie_t> geometries;
    for (const uint32_t id : std::as_const(m_windows))
        geometries.push_back(xcb_get_geometry(c, id));
    const QList<QRect> monitors = x11Monitors(c, m_root);

    bool covered = true, remapped = false;
    for (int i = lowest; i < count; ++i) {
        auto state = own(xcb_get_window_attributes_reply(c, attributes[size_t(i - lowest)], nullptr));
        if (!state)
            continue;
        if (!m_windows.contains(children[i])) {
            covered &= state->map_state != XCB_MAP_STATE_VIEWABLE;
        } else if (state->map_state == XCB_MAP_STATE_UNMAPPED) {
            xcb_map_window(c, children[i]);
            remapped = true;
        }
    }
    for (qsizetype i = 0; i < m_windows.size(); ++i) {
        auto geometry = own(xcb_get_geometry_reply(c, geometries[size_t(i)], nullptr));
        if (!geometry || monitors.size() != m_windows.size()
            || QRect(geometry->x, geometry->y, geometry->width, geometry->height) == monitors[i])
            continue;
        const QRect &frame = monitors[i];
        const uint32_t values[]
            = { uint32_t(frame.x()), uint32_t(frame.y()), uint32_t(frame.width()), uint32_t(frame.height()) };
        xcb_configure_window(c, m_windows[i],
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    }
    if (!covered || remapped) {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        for (auto it = m_windows.crbegin(); it != m_windows.crend(); ++it)
            xcb_configure_window(c, *it, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    }
    if (remapped) {
        // The grabs died with the unmapped window: the lock takes them again once the server
        // has mapped it (a round trip makes sure), or the grab would find it unviewable.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        QMetaObject::invokeMethod(this, m_changed, Qt::QueuedConnection);
    }
    xcb_flush(c);
    // Events read while waiting for the replies above raise no notifier of their own.
    readEvents();
}

} // namespace pelk::platform
