#include "platform/linux/WaylandSessionLock.h"

#include "platform/linux/UniqueFd.h"

#include <ext-session-lock-v1-client-protocol.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPainter>
#include <QSocketNotifier>

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pelk::platform {

namespace {
Q_LOGGING_CATEGORY(lcSessionLock, "pelk.lock")

// Asked while the lock is being set up: a wedged compositor must not hold the application.
constexpr int kRoundtripTimeoutMs = 1000;
// A compositor holds on to one buffer, two at most; more than this and old ones are dropped.
constexpr size_t kMaxBuffers = 3;

// Sends everything queued and waits for the compositor's answer to all of it, at most the
// timeout; events that came meanwhile are dispatched. False when the connection failed.
bool roundtrip(wl_display *display)
{
    bool answered = false;
    static const wl_callback_listener listener { [](void *data, wl_callback *, uint32_t) {
        *static_cast<bool *>(data) = true;
    } };
    wl_callback *sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &listener, &answered);
    const QDeadlineTimer deadline(kRoundtripTimeoutMs);
    bool failed = false;
    while (!answered && !failed && !deadline.hasExpired()) {
        if (wl_display_prepare_read(display) != 0) {
            failed = wl_display_dispatch_pending(display) < 0;
            continue;
        }
        wl_display_flush(display);
        pollfd ready { wl_display_get_fd(display), POLLIN, 0 };
        const int polled = poll(&ready, 1, static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)));
        if (polled <= 0) {
            wl_display_cancel_read(display);
            failed = polled < 0 && errno != EINTR;
            continue;
        }
        failed = wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0;
    }
    wl_callback_destroy(sync);
    return answered && !failed;
}

int qtKey(xkb_keysym_t sym)
{
    switch (sym) {
    case XKB_KEY_BackSpace:
        return Qt::Key_Backspace;
    case XKB_KEY_Return:
        return Qt::Key_Return;
    case XKB_KEY_KP_Enter:
        return Qt::Key_Enter;
    case XKB_KEY_Tab:
        return Qt::Key_Tab;
    case XKB_KEY_ISO_Left_Tab:
        return Qt::Key_Backtab;
    case XKB_KEY_Escape:
        return Qt::Key_Escape;
    case XKB_KEY_Delete:
        return Qt::Key_Delete;
    case XKB_KEY_space:
        return Qt::Key_Space;
    default:
        break;
    }
    if (sym >= XKB_KEY_KP_0 && sym <= XKB_KEY_KP_9)
        return Qt::Key_0 + static_cast<int>(sym - XKB_KEY_KP_0);
    // Qt names a character key by its upper-case code point.
    const uint32_t character = xkb_keysym_to_utf32(sym);
    if (character > 0x20 && character < 0xffff && !QChar::isSurrogate(character))
        return static_cast<int>(QChar::toUpper(character));
    return Qt::Key_unknown;
}

Qt::MouseButton qtButton(uint32_t button)
{
    switch (button) {
    case BTN_LEFT:
        return Qt::LeftButton;
    case BTN_RIGHT:
        return Qt::RightButton;
    case BTN_MIDDLE:
        return Qt::MiddleButton;
    default:
        return Qt::NoButton;
    }
}
} // namespace

struct WaylandSessionLock::Buffer {
    wl_buffer *buffer = nullptr;
    uchar *pixels = nullptr;
    size_t bytes = 0;
    QSize size;
    bool busy = false;
    ~Buffer()
    {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (pixels)
            munmap(pixels, bytes);
    }
};

struct WaylandSessionLock::Output {
    WaylandSessionLock *owner = nullptr;
    uint32_t name = 0;
    wl_output *output = nullptr;
    QPoint position;
    QSize modeSize;
    int scale = 1;
    // The scale as of the last description in full.
    int shownScale = 1;
    // Described in full at least once.
    bool ready = false;
    wl_surface *surface = nullptr;
    ext_session_lock_surface_v1 *lockSurface = nullptr;
    // As last configured and acknowledged.
    QSize size;
    QImage picture;
    std::vector<std::unique_ptr<Buffer>> buffers;

    void dropLockSurface()
    {
        if (lockSurface)
            ext_session_lock_surface_v1_destroy(lockSurface);
        if (surface)
            wl_surface_destroy(surface);
        lockSurface = nullptr;
        surface = nullptr;
        size = {};
        buffers.clear();
    }
    ~Output()
    {
        dropLockSurface();
        if (output)
            wl_output_destroy(output);
    }
};

// The connection's listeners, forwarding to the object (or output, or buffer) given as data.
struct Listeners {
    static WaylandSessionLock *lock(void *data) { return static_cast<WaylandSessionLock *>(data); }
    static WaylandSessionLock::Output &output(void *data) { return *static_cast<WaylandSessionLock::Output *>(data); }

    static constexpr wl_registry_listener registry {
        [](void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version) {
            lock(data)->addGlobal(name, interface, version);
        },
        [](void *data, wl_registry *, uint32_t name) { lock(data)->removeGlobal(name); },
    };
    static constexpr wl_output_listener outputEvents {
        [](void *data, wl_output *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *, const char *,
            int32_t) { output(data).position = QPoint(x, y); },
        [](void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t) {
            if (flags & WL_OUTPUT_MODE_CURRENT)
                output(data).modeSize = QSize(width, height);
        },
        [](void *data, wl_output *) { output(data).owner->outputDone(output(data)); },
        [](void *data, wl_output *, int32_t scale) { output(data).scale = std::max(scale, 1); },
        [](void *, wl_output *, const char *) {},
        [](void *, wl_output *, const char *) {},
    };
    static constexpr ext_session_lock_surface_v1_listener lockSurfaceEvents {
        [](void *data, ext_session_lock_surface_v1 *, uint32_t serial, uint32_t width, uint32_t height) {
            output(data).owner->configured(
                output(data), serial, QSize(static_cast<int>(width), static_cast<int>(height)));
        },
    };
    static constexpr ext_session_lock_v1_listener lockEvents {
        [](void *data, ext_session_lock_v1 *) { lock(data)->setState(CompositorLock::State::Locked); },
        [](void *data, ext_session_lock_v1 *) {
            WaylandSessionLock *self = lock(data);
            qCWarning(lcSessionLock, "the compositor refused or ended the session lock");
            // After finished the lock object may only be destroyed.
            self->dropLockSurfaces();
            ext_session_lock_v1_destroy(self->m_lock);
            self->m_lock = nullptr;
            self->setState(CompositorLock::State::Refused);
        },
    };
    static constexpr wl_buffer_listener bufferEvents {
        [](void *data, wl_buffer *) { static_cast<WaylandSessionLock::Buffer *>(data)->busy = false; },
    };
    static constexpr wl_seat_listener seatEvents {
        [](void *data, wl_seat *, uint32_t capabilities) { lock(data)->seatCapabilities(capabilities); },
        [](void *, wl_seat *, const char *) {},
    };
    static constexpr wl_keyboard_listener keyboardEvents {
        [](void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size) {
            UniqueFd owned(fd);
            if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
                lock(data)->keymap(owned.get(), size);
        },
        [](void *data, wl_keyboard *, uint32_t, wl_surface *surface, wl_array *) {
            lock(data)->m_keyboardFocus = lock(data)->outputFor(surface);
        },
        [](void *data, wl_keyboard *, uint32_t, wl_surface *) { lock(data)->m_keyboardFocus = nullptr; },
        [](void *data, wl_keyboard *, uint32_t, uint32_t, uint32_t key, uint32_t state) {
            lock(data)->key(key, state == WL_KEYBOARD_KEY_STATE_PRESSED);
        },
        [](void *data, wl_keyboard *, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
            lock(data)->updateModifiers(depressed, latched, locked, group);
        },
        [](void *, wl_keyboard *, int32_t, int32_t) {},
    };
    static constexpr wl_pointer_listener pointerEvents {
        [](void *data, wl_pointer *, uint32_t, wl_surface *surface, wl_fixed_t x, wl_fixed_t y) {
            lock(data)->pointerAt(surface, QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y)));
        },
        [](void *data, wl_pointer *, uint32_t, wl_surface *) {
            lock(data)->m_pointerFocus = nullptr;
            lock(data)->m_buttons = {};
        },
        [](void *data, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y) {
            lock(data)->pointerAt(nullptr, QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y)));
        },
        [](void *data, wl_pointer *, uint32_t, uint32_t, uint32_t button, uint32_t state) {
            lock(data)->button(button, state == WL_POINTER_BUTTON_STATE_PRESSED);
        },
        [](void *, wl_pointer *, uint32_t, uint32_t, wl_fixed_t) {},
        [](void *, wl_pointer *) {},
        [](void *, wl_pointer *, uint32_t) {},
        [](void *, wl_pointer *, uint32_t, uint32_t) {},
        [](void *, wl_pointer *, uint32_t, int32_t) {},
        [](void *, wl_pointer *, uint32_t, int32_t) {},
    };
};

std::unique_ptr<WaylandSessionLock> WaylandSessionLock::connectToCompositor()
{
    std::unique_ptr<WaylandSessionLock> lock(new WaylandSessionLock());
    if (!lock->open())
        return nullptr;
    return lock;
}

bool WaylandSessionLock::offered()
{
    static const bool offered = [] {
        wl_display *display = wl_display_connect(nullptr);
        if (!display)
            return false;
        bool found = false;
        static const wl_registry_listener listener {
            [](void *data, wl_registry *, uint32_t, const char *interface, uint32_t) {
                if (std::strcmp(interface, ext_session_lock_manager_v1_interface.name) == 0)
                    *static_cast<bool *>(data) = true;
            },
            [](void *, wl_registry *, uint32_t) {},
        };
        wl_registry *registry = wl_display_get_registry(display);
        wl_registry_add_listener(registry, &listener, &found);
        const bool answered = roundtrip(display);
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return answered && found;
    }();
    return offered;
}

WaylandSessionLock::~WaylandSessionLock()
{
    close();
    if (m_xkbState)
        xkb_state_unref(m_xkbState);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_xkb)
        xkb_context_unref(m_xkb);
}

bool WaylandSessionLock::open()
{
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return false;
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &Listeners::registry, this);
    // The first answer names the globals, the second describes the outputs and the seat.
    if (!roundtrip(m_display) || !roundtrip(m_display) || !m_manager || !m_compositor || !m_shm) {
        close();
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WaylandSessionLock::dispatch);
    return true;
}

void WaylandSessionLock::close()
{
    if (!m_display)
        return;
    if (m_notifier) {
        // Possibly called from the notifier's own signal.
        m_notifier->setEnabled(false);
        m_notifier.release()->deleteLater();
    }
    m_keyboardFocus = m_pointerFocus = nullptr;
    m_outputs.clear();
    // A confirmed lock is left as it is, without a request: the compositor keeps the session locked.
    if (m_lock) {
        if (m_state == State::Locked)
            wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_lock));
        else
            ext_session_lock_v1_destroy(m_lock);
        m_lock = nullptr;
    }
    for (auto *proxy : { reinterpret_cast<wl_proxy *>(m_manager), reinterpret_cast<wl_proxy *>(m_keyboard),
             reinterpret_cast<wl_proxy *>(m_pointer), reinterpret_cast<wl_proxy *>(m_seat),
             reinterpret_cast<wl_proxy *>(m_shm), reinterpret_cast<wl_proxy *>(m_compositor),
             reinterpret_cast<wl_proxy *>(m_registry) }) {
        if (proxy)
            wl_proxy_destroy(proxy);
    }
    m_manager = nullptr;
    m_keyboard = nullptr;
    m_pointer = nullptr;
    m_seat = nullptr;
    m_shm = nullptr;
    m_compositor = nullptr;
    m_registry = nullptr;
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
    m_display = nullptr;
}

void WaylandSessionLock::dispatch()
{
    if (!m_display)
        return;
    bool failed = false;
    if (wl_display_prepare_read(m_display) == 0)
        failed = wl_display_read_events(m_display) < 0;
    if (!failed)
        failed = wl_display_dispatch_pending(m_display) < 0;
    if (!failed) {
        flush();
        return;
    }
    const wl_interface *interface = nullptr;
    uint32_t id = 0;
    const uint32_t code = wl_display_get_protocol_error(m_display, &interface, &id);
    qCWarning(lcSessionLock, "the connection to the compositor failed: %s (protocol error %u on %s)",
        std::strerror(wl_display_get_error(m_display)), code, interface ? interface->name : "none");
    // The compositor keeps a lock it confirmed; this side can only ask again on a new connection.
    const bool wasLocking = m_state != State::Unlocked;
    close();
    Q_EMIT outputsChanged();
    setState(wasLocking ? State::Refused : State::Unlocked);
}

void WaylandSessionLock::flush()
{
    if (m_display)
        wl_display_flush(m_display);
}

void WaylandSessionLock::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

QList<QRect> WaylandSessionLock::outputs() const
{
    QList<QRect> frames;
    for (const auto &output : m_outputs) {
        if (output->ready)
            frames.append(QRect(output->position, output->modeSize / output->scale));
    }
    return frames;
}

void WaylandSessionLock::lock()
{
    if (m_state == State::Locking || m_state == State::Locked)
        return;
    if (!m_display && !open()) {
        setState(State::Refused);
        return;
    }
    m_lock = ext_session_lock_manager_v1_lock(m_manager);
    ext_session_lock_v1_add_listener(m_lock, &Listeners::lockEvents, this);
    for (const auto &output : m_outputs) {
        if (output->ready)
            lockOutput(*output);
    }
    setState(State::Locking);
    flush();
}

void WaylandSessionLock::unlock()
{
    if (m_lock) {
        // Only a confirmed lock can be lifted; one still being set up is withdrawn.
        if (m_state == State::Locked)
            ext_session_lock_v1_unlock_and_destroy(m_lock);
        else
            ext_session_lock_v1_destroy(m_lock);
        m_lock = nullptr;
        dropLockSurfaces();
        // Answered before going on: a program that quits next must not leave the session locked.
        if (!roundtrip(m_display))
            qCWarning(lcSessionLock, "the compositor did not confirm the unlock");
    }
    // A refused lock is over too: nothing is asked of the compositor any more.
    setState(State::Unlocked);
}

QSize WaylandSessionLock::pictureSize(int output) const
{
    const Output *shown = outputAt(output);
    return shown ? shown->size : QSize();
}

int WaylandSessionLock::pictureScale(int output) const
{
    const Output *shown = outputAt(output);
    return shown && m_compositorVersion >= 3 ? shown->scale : 1;
}

void WaylandSessionLock::present(int output, const QImage &picture)
{
    if (Output *shown = outputAt(output)) {
        shown->picture = picture;
        show(*shown);
    }
}

void WaylandSessionLock::lockOutput(Output &output)
{
    if (output.lockSurface)
        return;
    output.surface = wl_compositor_create_surface(m_compositor);
    output.lockSurface = ext_session_lock_v1_get_lock_surface(m_lock, output.surface, output.output);
    ext_session_lock_surface_v1_add_listener(output.lockSurface, &Listeners::lockSurfaceEvents, &output);
}

void WaylandSessionLock::dropLockSurfaces()
{
    for (const auto &output : m_outputs)
        output->dropLockSurface();
    m_keyboardFocus = m_pointerFocus = nullptr;
}

void WaylandSessionLock::show(Output &output)
{
    if (!output.lockSurface || output.size.isEmpty() || output.picture.isNull())
        return;
    const int scale = pictureScale(indexOf(&output));
    const QSize size = output.size * scale;
    std::erase_if(output.buffers, [&](const auto &buffer) {
        return !buffer->busy && (buffer->size != size || output.buffers.size() > kMaxBuffers);
    });
    auto free = std::find_if(
        output.buffers.begin(), output.buffers.end(), [&](const auto &b) { return !b->busy && b->size == size; });
    Buffer *buffer = free != output.buffers.end() ? free->get() : nullptr;
    if (!buffer) {
        const int stride = size.width() * 4;
        auto fresh = std::make_unique<Buffer>();
        fresh->bytes = static_cast<size_t>(stride) * static_cast<size_t>(size.height());
        fresh->size = size;
        UniqueFd memory(memfd_create("pelk-lock", MFD_CLOEXEC));
        if (!memory.valid() || ftruncate(memory.get(), static_cast<off_t>(fresh->bytes)) != 0)
            return;
        void *pixels = mmap(nullptr, fresh->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memory.get(), 0);
        if (pixels == MAP_FAILED)
            return;
        fresh->pixels = static_cast<uchar *>(pixels);
        wl_shm_pool *pool = wl_shm_create_pool(m_shm, memory.get(), static_cast<int32_t>(fresh->bytes));
        fresh->buffer = wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(), stride, WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
        wl_buffer_add_listener(fresh->buffer, &Listeners::bufferEvents, fresh.get());
        buffer = fresh.get();
        output.buffers.push_back(std::move(fresh));
    }
    // XRGB8888 is Qt's RGB32 in memory. A picture drawn for another size is fitted: the
    // compositor takes no other size.
    QImage target(buffer->pixels, size.width(), size.height(), size.width() * 4, QImage::Format_RGB32);
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRect(QPoint(), size), output.picture);
    painter.end();
    if (m_compositorVersion >= 3)
        wl_surface_set_buffer_scale(output.surface, scale);
    wl_surface_attach(output.surface, buffer->buffer, 0, 0);
    wl_surface_damage(output.surface, 0, 0, output.size.width(), output.size.height());
    wl_surface_commit(output.surface);
    buffer->busy = true;
    flush();
}

int WaylandSessionLock::indexOf(const Output *output) const
{
    int index = 0;
    for (const auto &candidate : m_outputs) {
        if (!candidate->ready)
            continue;
        if (candidate.get() == output)
            return index;
        ++index;
    }
    return -1;
}

WaylandSessionLock::Output *WaylandSessionLock::outputAt(int index) const
{
    for (const auto &output : m_outputs) {
        if (indexOf(output.get()) == index)
            return output.get();
    }
    return nullptr;
}

WaylandSessionLock::Output *WaylandSessionLock::outputFor(const wl_surface *surface) const
{
    for (const auto &output : m_outputs) {
        if (surface && output->surface == surface)
            return output.get();
    }
    return nullptr;
}

void WaylandSessionLock::emitInput(const Output *output, QEvent &event)
{
    const int index = indexOf(output);
    if (index >= 0)
        Q_EMIT input(index, &event);
}

void WaylandSessionLock::addGlobal(uint32_t name, const char *interface, uint32_t version)
{
    const auto bind = [&](const wl_interface &type, uint32_t highest) {
        return wl_registry_bind(m_registry, name, &type, std::min(version, highest));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        m_compositorVersion = std::min(version, 4u);
        m_compositor = static_cast<wl_compositor *>(bind(wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        m_shm = static_cast<wl_shm *>(bind(wl_shm_interface, 1));
    } else if (std::strcmp(interface, ext_session_lock_manager_v1_interface.name) == 0) {
        m_manager = static_cast<ext_session_lock_manager_v1 *>(bind(ext_session_lock_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !m_seat) {
        // The first seat is the person at the screen.
        m_seat = static_cast<wl_seat *>(bind(wl_seat_interface, 5));
        m_seatName = name;
        wl_seat_add_listener(m_seat, &Listeners::seatEvents, this);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<Output>();
        output->owner = this;
        output->name = name;
        output->output = static_cast<wl_output *>(bind(wl_output_interface, 2));
        wl_output_add_listener(output->output, &Listeners::outputEvents, output.get());
        m_outputs.push_back(std::move(output));
    }
}

void WaylandSessionLock::removeGlobal(uint32_t name)
{
    if (name == m_seatName && m_seat) {
        seatCapabilities(0);
        wl_seat_destroy(m_seat);
        m_seat = nullptr;
        return;
    }
    const auto gone = std::find_if(m_outputs.begin(), m_outputs.end(), [&](const auto &o) { return o->name == name; });
    if (gone == m_outputs.end())
        return;
    if (m_keyboardFocus == gone->get())
        m_keyboardFocus = nullptr;
    if (m_pointerFocus == gone->get())
        m_pointerFocus = nullptr;
    m_outputs.erase(gone);
    Q_EMIT outputsChanged();
}

void WaylandSessionLock::outputDone(Output &output)
{
    // A new scale wants a new picture, as a new size does.
    const bool rescaled = output.ready && output.scale != output.shownScale;
    output.shownScale = output.scale;
    output.ready = true;
    if (rescaled && output.lockSurface) {
        show(output);
        Q_EMIT pictureSizeChanged(indexOf(&output));
    }
    // An output that comes while locked is covered too: the compositor shows it nothing else.
    if (m_lock)
        lockOutput(output);
    Q_EMIT outputsChanged();
}

void WaylandSessionLock::configured(Output &output, uint32_t serial, QSize size)
{
    ext_session_lock_surface_v1_ack_configure(output.lockSurface, serial);
    const bool resized = output.size != size;
    output.size = size;
    // The last picture goes up at once, fitted; the new size's own picture follows.
    show(output);
    if (resized)
        Q_EMIT pictureSizeChanged(indexOf(&output));
}

void WaylandSessionLock::seatCapabilities(uint32_t capabilities)
{
    const bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    const bool pointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
    if (keyboard && !m_keyboard) {
        m_keyboard = wl_seat_get_keyboard(m_seat);
        wl_keyboard_add_listener(m_keyboard, &Listeners::keyboardEvents, this);
    } else if (!keyboard && m_keyboard) {
        wl_keyboard_destroy(m_keyboard);
        m_keyboard = nullptr;
        m_keyboardFocus = nullptr;
    }
    if (pointer && !m_pointer) {
        m_pointer = wl_seat_get_pointer(m_seat);
        wl_pointer_add_listener(m_pointer, &Listeners::pointerEvents, this);
    } else if (!pointer && m_pointer) {
        wl_pointer_destroy(m_pointer);
        m_pointer = nullptr;
        m_pointerFocus = nullptr;
    }
}

void WaylandSessionLock::keymap(int fd, uint32_t size)
{
    void *text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text == MAP_FAILED)
        return;
    if (!m_xkb)
        m_xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    // The keymap is text, terminated within the size given.
    xkb_keymap *keymap = m_xkb
        ? xkb_keymap_new_from_buffer(m_xkb, static_cast<const char *>(text),
            strnlen(static_cast<const char *>(text), size), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS)
        : nullptr;
    munmap(text, size);
    if (!keymap) {
        qCWarning(lcSessionLock, "the compositor's keymap does not compile; keys are not read");
        return;
    }
    if (m_xkbState)
        xkb_state_unref(m_xkbState);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    m_keymap = keymap;
    m_xkbState = xkb_state_new(keymap);
}

Qt::KeyboardModifiers WaylandSessionLock::modifiers() const
{
    Qt::KeyboardModifiers held;
    if (!m_xkbState)
        return held;
    const auto active = [&](const char *name) {
        return xkb_state_mod_name_is_active(m_xkbState, name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    held.setFlag(Qt::ShiftModifier, active(XKB_MOD_NAME_SHIFT));
    held.setFlag(Qt::ControlModifier, active(XKB_MOD_NAME_CTRL));
    held.setFlag(Qt::AltModifier, active(XKB_MOD_NAME_ALT));
    held.setFlag(Qt::MetaModifier, active(XKB_MOD_NAME_LOGO));
    return held;
}

void WaylandSessionLock::key(uint32_t key, bool pressed)
{
    if (!m_xkbState)
        return;
    // Evdev codes are X key codes less 8.
    const xkb_keycode_t code = key + 8;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(m_xkbState, code);
    char text[16] = {};
    xkb_state_key_get_utf8(m_xkbState, code, text, sizeof text);
    Qt::KeyboardModifiers held = modifiers();
    held.setFlag(Qt::KeypadModifier, sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_9);
    QKeyEvent event(pressed ? QEvent::KeyPress : QEvent::KeyRelease, qtKey(sym), held, QString::fromUtf8(text));
    emitInput(m_keyboardFocus, event);
}

void WaylandSessionLock::updateModifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group)
{
    if (m_xkbState)
        xkb_state_update_mask(m_xkbState, depressed, latched, locked, 0, 0, group);
}

void WaylandSessionLock::pointerAt(wl_surface *surface, QPointF position)
{
    if (surface)
        m_pointerFocus = outputFor(surface);
    m_pointerPosition = position;
    QMouseEvent event(QEvent::MouseMove, position, position, Qt::NoButton, m_buttons, modifiers());
    emitInput(m_pointerFocus, event);
}

void WaylandSessionLock::button(uint32_t button, bool pressed)
{
    const Qt::MouseButton which = qtButton(button);
    if (which == Qt::NoButton)
        return;
    m_buttons.setFlag(which, pressed);
    QMouseEvent event(pressed ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, m_pointerPosition,
        m_pointerPosition, which, m_buttons, modifiers());
    emitInput(m_pointerFocus, event);
}

} // namespace pelk::platform
