#include "platform/linux/X11DisplaySleepWatcher.h"

#include "platform/linux/WaylandSession.h"

#include <QSocketNotifier>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace pelk::platform {

X11DisplaySleepWatcher::X11DisplaySleepWatcher(QObject *parent) : QObject(parent)
{
    if (isWaylandSession())
        return;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const xcb_query_extension_reply_t *saver
        = xcb_connection_has_error(connection) ? nullptr : xcb_get_extension_data(connection, &xcb_screensaver_id);
    if (!saver || !saver->present) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_notifyEvent = saver->first_event + XCB_SCREENSAVER_NOTIFY;
    // The saver is one for the whole server but announced on each screen's root window. An
    // error would come back as an event, which the reader drops, so nothing waits for replies.
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem; xcb_screen_next(&it))
        xcb_screensaver_select_input(connection, it.data->root, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
    xcb_flush(connection);

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11DisplaySleepWatcher::readEvents);
}

X11DisplaySleepWatcher::~X11DisplaySleepWatcher()
{
    delete m_notifier; // before its descriptor closes
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11DisplaySleepWatcher::isWatching() const
{
    return m_connection && !xcb_connection_has_error(m_connection);
}

void X11DisplaySleepWatcher::readEvents()
{
    int slept = 0;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        // Only the change to "on" is sleep; "off" and "cycle" follow one already reported.
        if ((event->response_type & 0x7f) == m_notifyEvent
            && reinterpret_cast<xcb_screensaver_notify_event_t *>(event)->state == XCB_SCREENSAVER_STATE_ON)
            ++slept;
        std::free(event);
    }
    // A server gone away leaves the descriptor readable for ever; nothing more can come.
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
    for (; slept > 0; --slept)
        Q_EMIT displaysSlept();
}

} // namespace pelk::platform
