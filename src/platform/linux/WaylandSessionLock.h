#pragma once

#include "platform/CompositorLock.h"

#include <QPointF>

#include <memory>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_shm;
struct wl_seat;
struct wl_keyboard;
struct wl_pointer;
struct wl_surface;
struct ext_session_lock_manager_v1;
struct ext_session_lock_v1;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;
class QSocketNotifier;

namespace pelk::platform {

// ext-session-lock-v1 on the session's Wayland compositor (sway, Hyprland, labwc, KDE Plasma 6...),
// over a connection of this object's own: the application's windows may well be on Xwayland.
// Pictures go out in shared-memory buffers; keys are read with the keymap the compositor sends.
// Everything runs on the thread that made it, fed by the connection's socket.
class WaylandSessionLock final : public CompositorLock {
    Q_OBJECT
public:
    // The compositor of WAYLAND_DISPLAY, when it offers the session lock; null otherwise.
    static std::unique_ptr<WaylandSessionLock> connectToCompositor();
    // Whether the compositor of WAYLAND_DISPLAY offers it (one short look per process).
    static bool offered();
    // Closing while locked leaves the session locked: the compositor keeps it so until this
    // program, started again, takes the lock over and lifts it.
    ~WaylandSessionLock() override;

    QList<QRect> outputs() const override;
    void lock() override;
    void unlock() override;
    State state() const override { return m_state; }
    QSize pictureSize(int output) const override;
    void present(int output, const QImage &picture) override;

    struct Output;
    struct Buffer;

private:
    WaylandSessionLock() = default;
    bool open();
    void close();
    void dispatch();
    void flush();
    void setState(State state);
    void lockOutput(Output &output);
    void dropLockSurfaces();
    void show(Output &output);
    int indexOf(const Output *output) const;
    Output *outputFor(const wl_surface *surface) const;
    void emitInput(const Output *output, QEvent &event);
    Qt::KeyboardModifiers modifiers() const;

    // Called from the connection's listeners.
    void addGlobal(uint32_t name, const char *interface, uint32_t version);
    void removeGlobal(uint32_t name);
    void outputDone(Output &output);
    void configured(Output &output, uint32_t serial, QSize size);
    void seatCapabilities(uint32_t capabilities);
    void keymap(int fd, uint32_t size);
    void key(uint32_t key, bool pressed);
    void updateModifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);
    void pointerAt(wl_surface *surface, QPointF position);
    void button(uint32_t button, bool pressed);

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_compositor *m_compositor = nullptr;
    wl_shm *m_shm = nullptr;
    wl_seat *m_seat = nullptr;
    uint32_t m_seatName = 0;
    wl_keyboard *m_keyboard = nullptr;
    wl_pointer *m_pointer = nullptr;
    ext_session_lock_manager_v1 *m_manager = nullptr;
    ext_session_lock_v1 *m_lock = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<std::unique_ptr<Output>> m_outputs;
    xkb_context *m_xkb = nullptr;
    xkb_keymap *m_keymap = nullptr;
    xkb_state *m_xkbState = nullptr;
    const Output *m_keyboardFocus = nullptr;
    const Output *m_pointerFocus = nullptr;
    QPointF m_pointerPosition;
    Qt::MouseButtons m_buttons;
    State m_state = State::Unlocked;

    friend struct Listeners;
};

} // namespace pelk::platform
