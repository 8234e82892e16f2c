#include "platform/linux/X11Desktop.h"

#include "platform/linux/ModifiedKey.h"

#include "platform/linux/WaylandSession.h"

#include <QTimer>

#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
// xkb.h names a member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

#include <linux/input-event-codes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pelk::platform {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> own(T *reply)
{
    return Reply<T>(reply, &std::free);
}

// X servers reading the kernel's input devices number each key by its Linux code plus 8.
constexpr int kEvdevOffset = 8;

} // namespace

X11Desktop::X11Desktop(QObject *parent) : QObject(parent), m_wayland(isWaylandSession())
{
    if (m_wayland)
        return;
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return;
    m_root = it.data->root;

    const auto present = [connection](xcb_extension_t *extension) {
        const xcb_query_extension_reply_t *data = xcb_get_extension_data(connection, extension);
        return data && data->present;
    };
    m_shm = present(&xcb_shm_id);
    m_xtest = present(&xcb_test_id);
    m_randr = present(&xcb_randr_id);
    m_xfixes = present(&xcb_xfixes_id);
    if (m_randr) {
        auto version
            = own(xcb_randr_query_version_reply(connection, xcb_randr_query_version(connection, 1, 5), nullptr));
        m_randr = version && (version->major_version > 1 || version->minor_version >= 5);
    }
    if (m_xfixes) {
        // The pointer image needs XFixes 4 or later to be announced before use.
        auto version
            = own(xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 4, 0), nullptr));
        m_xfixes = version && version->major_version >= 1;
    }
    // DAMAGE and XFixes regions say what changed between frames; without them every frame is read whole.
    m_damageAvailable = m_xfixes && present(&xcb_damage_id)
        && own(xcb_damage_query_version_reply(connection, xcb_damage_query_version(connection, 1, 1), nullptr));
    // Watched only while frames are asked for: the server tracks every drawing while it watches.
    m_idle.setSingleShot(true);
    m_idle.setInterval(kWatchForMs);
    connect(&m_idle, &QTimer::timeout, this, &X11Desktop::stopWatching);
}

X11Desktop::~X11Desktop()
{
    releaseSegment();
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11Desktop::isShareableSession()
{
    return !m_wayland && m_connection && !xcb_connection_has_error(m_connection);
}

bool X11Desktop::capturePermitted()
{
    return isShareableSession() && m_shm;
}

bool X11Desktop::controlPermitted()
{
    return isShareableSession() && m_xtest;
}

std::optional<QRect> X11Desktop::mainDisplayBounds()
{
    if (!isShareableSession())
        return std::nullopt;
    if (m_randr) {
        auto monitors
            = own(xcb_randr_get_monitors_reply(m_connection, xcb_randr_get_monitors(m_connection, m_root, 1), nullptr));
        if (monitors) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
                 xcb_randr_monitor_info_next(&it)) {
                if (it.data->primary && it.data->width > 0 && it.data->height > 0)
                    return QRect(it.data->x, it.data->y, it.data->width, it.data->height);
            }
        }
    }
    const QRect whole = screen();
    return whole.isEmpty() ? std::nullopt : std::optional<QRect>(whole);
}

QRect X11Desktop::screen()
{
    // Asked every time: a resolution change resizes the root window under a running session.
    auto geometry = own(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_root), nullptr));
    return geometry ? QRect(0, 0, geometry->width, geometry->height) : QRect();
}

void X11Desktop::findMainDisplay(std::function<void(std::optional<MainDisplay>)> done)
{
    std::optional<MainDisplay> display;
    if (const std::optional<QRect> bounds = mainDisplayBounds())
        display = MainDisplay { m_root, *bounds };
    QTimer::singleShot(0, this, [done = std::move(done), display] { done(display); });
}

void X11Desktop::captureJpeg(
    const MainDisplay &, QSize size, int quality, std::function<void(std::optional<QByteArray>)> done)
{
    std::optional<QByteArray> jpeg = captureJpegNow(size, quality);
    QTimer::singleShot(0, this, [done = std::move(done), jpeg = std::move(jpeg)] { done(jpeg); });
}

bool X11Desktop::ensureSegment(qsizetype bytes)
{
    if (m_shmAddress && m_shmBytes >= bytes)
        return true;
    releaseSegment();
    m_shmId = shmget(IPC_PRIVATE, size_t(bytes), IPC_CREAT | 0600);
    if (m_shmId < 0)
        return false;
    void *address = shmat(m_shmId, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(m_shmId, IPC_RMID, nullptr);
        m_shmId = -1;
        return false;
    }
    m_shmAddress = static_cast<uchar *>(address);
    m_shmBytes = bytes;
    m_shmSeg = xcb_generate_id(m_connection);
    auto attached
        = xcb_request_check(m_connection, xcb_shm_attach_checked(m_connection, m_shmSeg, quint32(m_shmId), 0));
    // Marked for removal at once: the segment goes away with the last process that uses it.
    shmctl(m_shmId, IPC_RMID, nullptr);
    if (attached) {
        std::free(attached);
        shmdt(m_shmAddress);
        m_shmAddress = nullptr;
        m_shmBytes = 0;
        m_shmId = -1;
        return false;
    }
    return true;
}

void X11Desktop::releaseSegment()
{
    m_last.reset();
    if (!m_shmAddress)
        return;
    if (m_connection)
        xcb_shm_detach(m_connection, m_shmSeg);
    shmdt(m_shmAddress);
    m_shmAddress = nullptr;
    m_shmBytes = 0;
    m_shmId = -1;
}

void X11Desktop::startWatching()
{
    const quint32 region = xcb_generate_id(m_connection);
    const quint32 damage = xcb_generate_id(m_connection);
    auto regionError
        = own(xcb_request_check(m_connection, xcb_xfixes_create_region_checked(m_connection, region, 0, nullptr)));
    auto damageError = own(xcb_request_check(
        m_connection, xcb_damage_create_checked(m_connection, damage, m_root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY)));
    m_damaged = regionError ? 0 : region;
    m_damage = damageError ? 0 : damage;
    if (!m_damage || !m_damaged)
        stopWatching();
}

void X11Desktop::stopWatching()
{
    m_last.reset();
    if (m_damage)
        xcb_damage_destroy(m_connection, m_damage);
    if (m_damaged)
        xcb_xfixes_destroy_region(m_connection, m_damaged);
    m_damage = m_damaged = 0;
    xcb_flush(m_connection);
}

std::optional<QList<QRect>> X11Desktop::takeDamage(const QRect &bounds)
{
    if (!m_damageAvailable)
        return std::nullopt;
    if (!m_damage) {
        // Changes count from here on; this frame is read whole.
        startWatching();
        return std::nullopt;
    }
    // Taken before the picture is read: whatever is drawn after it counts for the next frame.
    const xcb_void_cookie_t taken = xcb_damage_subtract_checked(m_connection, m_damage, XCB_NONE, m_damaged);
    auto region
        = own(xcb_xfixes_fetch_region_reply(m_connection, xcb_xfixes_fetch_region(m_connection, m_damaged), nullptr));
    if (auto error = own(xcb_request_check(m_connection, taken))) {
        stopWatching(); // the damage is gone; the region would hold an old answer
        return std::nullopt;
    }
    if (!region)
        return std::nullopt;
    QList<QRect> changed;
    const xcb_rectangle_t *rects = xcb_xfixes_fetch_region_rectangles(region.get());
    for (int i = 0; i < xcb_xfixes_fetch_region_rectangles_length(region.get()); ++i) {
        const QRect rect = QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height).intersected(bounds);
        if (!rect.isEmpty())
            changed.append(rect.translated(-bounds.topLeft()));
    }
    return changed;
}

bool X11Desktop::readRows(const QRect &bounds, int top, int rows)
{
    // Whole rows land in place, so the segment keeps the full picture at its own stride.
    const int stride = bounds.width() * 4;
    auto image = own(xcb_shm_get_image_reply(m_connection,
        xcb_shm_get_image(m_connection, m_root, qint16(bounds.x()), qint16(bounds.y() + top), quint16(bounds.width()),
            quint16(rows), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_shmSeg, quint32(top) * quint32(stride)),
        nullptr));
    // Only the common 24-bit depth in 32-bit pixels is read; anything else fails the frame.
    return image && image->depth == 24 && image->size >= quint32(stride) * quint32(rows);
}

void X11Desktop::restoreUnderCursor(int stride)
{
    const qsizetype row = qsizetype(m_cursorRect.width()) * 4;
    for (int y = 0; y < m_cursorRect.height(); ++y) {
        std::memcpy(m_shmAddress + qint64(m_cursorRect.top() + y) * stride + m_cursorRect.left() * 4,
            m_underCursor.data() + y * row, size_t(row));
    }
    m_cursorRect = QRect();
}

void X11Desktop::drawCursor(const xcb_xfixes_get_cursor_image_reply_t *cursor, const QRect &bounds, int stride)
{
    m_cursorRect = QRect();
    if (!cursor)
        return;
    const int left = cursor->x - cursor->xhot - bounds.x();
    const int top = cursor->y - cursor->yhot - bounds.y();
    const QRect area = QRect(left, top, cursor->width, cursor->height).intersected(QRect(QPoint(), bounds.size()));
    if (area.isEmpty())
        return;
    // The pixels beneath, so the next frame can take the pointer out without reading them again.
    const qsizetype row = qsizetype(area.width()) * 4;
    m_underCursor.resize(size_t(row * area.height()));
    for (int y = 0; y < area.height(); ++y) {
        std::memcpy(m_underCursor.data() + y * row, m_shmAddress + qint64(area.top() + y) * stride + area.left() * 4,
            size_t(row));
    }
    m_cursorRect = area;
    const quint32 *image = xcb_xfixes_get_cursor_image_cursor_image(cursor);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        uchar *dst = m_shmAddress + qint64(y) * stride + area.left() * 4;
        for (int x = area.left(); x <= area.right(); ++x, dst += 4) {
            // Premultiplied ARGB over the screen's BGRX.
            const quint32 argb = image[(y - top) * cursor->width + (x - left)];
            const int alpha = int(argb >> 24);
            if (alpha == 0)
                continue;
            const int keep = 255 - alpha;
            dst[0] = uchar(std::min(255, int(argb & 0xff) + dst[0] * keep / 255));
            dst[1] = uchar(std::min(255, int((argb >> 8) & 0xff) + dst[1] * keep / 255));
            dst[2] = uchar(std::min(255, int((argb >> 16) & 0xff) + dst[2] * keep / 255));
        }
    }
}

std::optional<QByteArray> X11Desktop::captureJpegNow(QSize size, int quality)
{
    if (!capturePermitted())
        return std::nullopt;
    const std::optional<QRect> found = mainDisplayBounds();
    const QRect bounds = found ? found->intersected(screen()) : QRect();
    const int stride = bounds.width() * 4;
    if (bounds.isEmpty() || !ensureSegment(qsizetype(stride) * bounds.height())) {
        m_last.reset();
        return std::nullopt;
    }
    drainEvents();
    m_idle.start();
    const std::optional<QList<QRect>> changed = takeDamage(bounds);
    const auto cursor = m_xfixes
        ? own(xcb_xfixes_get_cursor_image_reply(m_connection, xcb_xfixes_get_cursor_image(m_connection), nullptr))
        : Reply<xcb_xfixes_get_cursor_image_reply_t>(nullptr, &std::free);
    std::optional<Pointer> pointer;
    if (cursor)
        pointer = Pointer(cursor->x, cursor->y, cursor->cursor_serial);
    // Anything not known to be unchanged is read again: a new size, display or quality, lost damage.
    const bool kept
        = m_last && changed && m_last->bounds == bounds && m_last->size == size && m_last->quality == quality;
    if (kept && changed->isEmpty() && m_last->pointer == pointer)
        return m_last->jpeg;
    m_last.reset();
    std::optional<QList<QRect>> redraw;
    if (kept) {
        redraw = *changed;
        redraw->append(m_cursorRect);
        restoreUnderCursor(stride);
        // The changed rows, overlapping and touching bands joined.
        QList<std::pair<int, int>> bands;
        for (const QRect &rect : *changed)
            bands.append({ rect.top(), rect.bottom() });
        std::sort(bands.begin(), bands.end());
        for (qsizetype i = 0; i < bands.size();) {
            int bottom = bands[i].second;
            qsizetype next = i + 1;
            for (; next < bands.size() && bands[next].first <= bottom + 1; ++next)
                bottom = std::max(bottom, bands[next].second);
            if (!readRows(bounds, bands[i].first, bottom - bands[i].first + 1))
                return std::nullopt;
            i = next;
        }
    } else if (!readRows(bounds, 0, bounds.height())) {
        return std::nullopt;
    }
    drawCursor(cursor.get(), bounds, stride);
    if (redraw)
        redraw->append(m_cursorRect);
    std::optional<QByteArray> jpeg
        = m_encoder.encode(m_shmAddress, bounds.width(), bounds.height(), stride, size, quality, redraw);
    if (jpeg)
        m_last = Frame { bounds, size, quality, pointer, *jpeg };
    return jpeg;
}

void X11Desktop::drainEvents()
{
    // Nothing is selected on this connection, but the server still tells every client when
    // the keyboard mapping changes; a stale keycode table would type the wrong keys.
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == XCB_MAPPING_NOTIFY) {
            m_keycodes.clear();
            m_evdevKeycodes.reset();
        }
        std::free(event);
    }
}

bool X11Desktop::fakeInput(quint8 type, quint8 detail, int x, int y)
{
    if (!controlPermitted())
        return false;
    const xcb_void_cookie_t cookie
        = xcb_test_fake_input(m_connection, type, detail, XCB_CURRENT_TIME, m_root, qint16(x), qint16(y), 0);
    Q_UNUSED(cookie);
    return xcb_flush(m_connection) > 0;
}

bool X11Desktop::postMouse(MouseEvent kind, QPointF at, int clickState, Button button)
{
    // X counts double clicks itself from the timing of the presses, so the click state needs
    // nothing more than the two presses being posted back to back.
    Q_UNUSED(clickState);
    Q_UNUSED(button);
    const int x = qRound(at.x());
    const int y = qRound(at.y());
    switch (kind) {
    case MouseEvent::Moved:
    case MouseEvent::LeftDragged:
        return fakeInput(XCB_MOTION_NOTIFY, 0, x, y);
    case MouseEvent::LeftDown:
    case MouseEvent::RightDown:
        return fakeInput(XCB_MOTION_NOTIFY, 0, x, y)
            && fakeInput(XCB_BUTTON_PRESS, kind == MouseEvent::LeftDown ? 1 : 3);
    case MouseEvent::LeftUp:
    case MouseEvent::RightUp:
        return fakeInput(XCB_MOTION_NOTIFY, 0, x, y)
            && fakeInput(XCB_BUTTON_RELEASE, kind == MouseEvent::LeftUp ? 1 : 3);
    }
    return false;
}

bool X11Desktop::postScroll(qint32 lines)
{
    // Wheel buttons 4 (up) and 5 (down), one click per line.
    const quint8 wheel = lines > 0 ? 4 : 5;
    bool ok = true;
    for (qint64 i = 0; i < std::abs(qint64(lines)); ++i)
        ok = fakeInput(XCB_BUTTON_PRESS, wheel) && fakeInput(XCB_BUTTON_RELEASE, wheel) && ok;
    return ok;
}

void X11Desktop::loadKeyboardMapping()
{
    m_keycodes.clear();
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto mapping = own(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, quint8(first), quint8(count)), nullptr));
    if (!mapping)
        return;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perCode = mapping->keysyms_per_keycode;
    // The first (unshifted) column wins, so "KeyA" is the key that types a, not A.
    for (int column = perCode - 1; column >= 0; --column) {
        for (int i = 0; i < count; ++i) {
            const xcb_keysym_t sym = syms[i * perCode + column];
            if (sym != 0)
                m_keycodes.insert(sym, quint8(first + i));
        }
    }
}

bool X11Desktop::usesEvdevKeycodes()
{
    if (m_evdevKeycodes)
        return *m_evdevKeycodes;
    // The keycodes component of the server's XKB keymap names the numbering ("evdev+aliases(qwerty)").
    m_evdevKeycodes = false;
    const xcb_query_extension_reply_t *xkb = xcb_get_extension_data(m_connection, &xcb_xkb_id);
    if (!xkb || !xkb->present)
        return false;
    auto used = own(xcb_xkb_use_extension_reply(m_connection, xcb_xkb_use_extension(m_connection, 1, 0), nullptr));
    auto names = used && used->supported ? own(xcb_xkb_get_names_reply(m_connection,
                     xcb_xkb_get_names(m_connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEYCODES), nullptr))
                                         : Reply<xcb_xkb_get_names_reply_t>(nullptr, &std::free);
    if (!names || !(names->which & XCB_XKB_NAME_DETAIL_KEYCODES))
        return false;
    xcb_xkb_get_names_value_list_t values {};
    xcb_xkb_get_names_value_list_unpack(xcb_xkb_get_names_value_list(names.get()), names->nTypes, names->indicators,
        names->virtualMods, names->groupNames, names->nKeys, names->nKeyAliases, names->nRadioGroups, names->which,
        &values);
    auto atom
        = own(xcb_get_atom_name_reply(m_connection, xcb_get_atom_name(m_connection, values.keycodesName), nullptr));
    if (!atom)
        return false;
    const QByteArray name(xcb_get_atom_name_name(atom.get()), xcb_get_atom_name_name_length(atom.get()));
    m_evdevKeycodes = name.startsWith("evdev");
    return *m_evdevKeycodes;
}

quint8 X11Desktop::keycodeFor(Key key)
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    if (usesEvdevKeycodes()) {
        const int code = key.code + kEvdevOffset;
        return code >= setup->min_keycode && code <= setup->max_keycode ? quint8(code) : 0;
    }
    // Any other numbering: the key that types the US keysym in the current layout.
    if (m_keycodes.isEmpty())
        loadKeyboardMapping();
    return m_keycodes.value(key.usKeysym, 0);
}

bool X11Desktop::postKey(Key key, Modifiers modifiers, bool down)
{
    if (!controlPermitted())
        return false;
    drainEvents();
    const quint8 code = keycodeFor(key);
    if (code == 0)
        return false;
    return postModifiedKey(key, modifiers, down, [this](Key pressed, bool keyDown) {
        // A modifier the layout has no key for is left out.
        const quint8 keycode = keycodeFor(pressed);
        return keycode == 0 || fakeInput(keyDown ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode);
    });
}

} // namespace pelk::platform
