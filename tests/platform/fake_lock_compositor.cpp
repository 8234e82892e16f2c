// A small Wayland compositor for tests of the session lock client: outputs, shm surfaces, a seat
// with keyboard and pointer, and ext-session-lock-v1 with wlroots' policy (a lock whose client
// goes away leaves the session locked, and the next client's lock takes it over). It is as strict
// as real compositors, so a client's mistake shows up as a protocol error.
// Driven on stdin (output add/remove, keys, clicks, snapshots); reports on stdout, a line each.
#include <ext-session-lock-v1-server-protocol.h>

#include <QImage>
#include <QString>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-server.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Output {
    // Logical size and place; the mode has scale times the pixels a side.
    int index, w, h, x, y, scale = 1;
    wl_global *global = nullptr;
    std::vector<wl_resource *> resources {};
    bool gone = false;
};
struct LockSurface;
struct Surface {
    wl_resource *resource;
    wl_resource *pending = nullptr; // the attached buffer, until commit
    bool attached = false, hasBuffer = false, hadRole = false;
    int scale = 1, pendingScale = 1;
    std::vector<wl_resource *> frames {};
    LockSurface *role = nullptr;
    wl_listener bufferGone {};
};
struct Lock;
struct LockSurface {
    wl_resource *resource;
    Surface *surface;
    Output *output;
    Lock *lock;
    std::vector<uint32_t> configures {}; // serials sent and not yet acked
    int w = 0, h = 0; // the size acked
    bool acked = false, committed = false;
    QImage image {};
};
struct Lock {
    wl_resource *resource;
    bool lockedSent = false;
    std::vector<LockSurface *> surfaces {};
};

wl_display *display;
std::vector<Output *> outputs;
std::vector<wl_resource *> keyboards, pointers;
Lock *active = nullptr; // the live lock holding the session
bool foreign = false; // a lock held by some other client (stdin: foreign-lock)
LockSurface *keyboardFocus = nullptr, *pointerFocus = nullptr, *clicked = nullptr;
xkb_state *xkb;
int keymapFd = -1;
size_t keymapSize = 0;
std::vector<uint32_t> pressed;
uint32_t sentMods[4] = {};

__attribute__((format(printf, 1, 2))) void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

void fail(wl_resource *resource, uint32_t code, const char *message)
{
    say("error %s %u %s", wl_resource_get_class(resource), code, message);
    wl_resource_post_error(resource, code, "%s", message);
}

uint32_t now()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint32_t(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

template <typename T> T *data(wl_resource *resource)
{
    return static_cast<T *>(wl_resource_get_user_data(resource));
}

void destroyResource(wl_client *, wl_resource *resource)
{
    wl_resource_destroy(resource);
}

bool live(const LockSurface *ls)
{
    return ls && active && ls->lock == active && ls->surface && ls->output && !ls->output->gone;
}

template <typename F> void eachOf(const std::vector<wl_resource *> &list, const LockSurface *ls, F f)
{
    for (wl_resource *r : list)
        if (wl_resource_get_client(r) == wl_resource_get_client(ls->surface->resource))
            f(r);
}

void sendModifiers(wl_resource *keyboard)
{
    wl_keyboard_send_modifiers(
        keyboard, wl_display_next_serial(display), sentMods[0], sentMods[1], sentMods[2], sentMods[3]);
}

void enter(wl_resource *keyboard, const LockSurface *ls)
{
    wl_array keys;
    wl_array_init(&keys);
    for (uint32_t code : pressed)
        *static_cast<uint32_t *>(wl_array_add(&keys, sizeof code)) = code;
    wl_keyboard_send_enter(keyboard, wl_display_next_serial(display), ls->surface->resource, &keys);
    wl_array_release(&keys);
    sendModifiers(keyboard);
}

// Keyboard focus: the lock surface clicked last, else the first output's.
void refocus()
{
    LockSurface *want = nullptr;
    if (active && live(clicked) && clicked->committed)
        want = clicked;
    else if (active)
        for (LockSurface *ls : active->surfaces)
            if (live(ls) && ls->committed && (!want || ls->output->index < want->output->index))
                want = ls;
    if (want == keyboardFocus)
        return;
    if (keyboardFocus && keyboardFocus->surface)
        eachOf(keyboards, keyboardFocus, [](wl_resource *k) {
            wl_keyboard_send_leave(k, wl_display_next_serial(display), keyboardFocus->surface->resource);
        });
    keyboardFocus = want;
    if (!want)
        return;
    eachOf(keyboards, want, [want](wl_resource *k) { enter(k, want); });
}

void checkLocked()
{
    if (!active || active->lockedSent)
        return;
    for (Output *o : outputs)
        if (!o->gone && std::none_of(active->surfaces.begin(), active->surfaces.end(), [o](LockSurface *ls) {
                return ls->output == o && ls->committed;
            }))
            return;
    active->lockedSent = true;
    ext_session_lock_v1_send_locked(active->resource);
    say("locked");
}

// --- wl_surface, wl_region, wl_compositor
void setPending(Surface *s, wl_resource *buffer)
{
    if (s->pending)
        wl_list_remove(&s->bufferGone.link);
    s->pending = buffer;
    if (buffer)
        wl_resource_add_destroy_listener(buffer, &s->bufferGone);
}

QImage copyPixels(wl_shm_buffer *shm)
{
    const int w = wl_shm_buffer_get_width(shm), h = wl_shm_buffer_get_height(shm);
    const int stride = wl_shm_buffer_get_stride(shm);
    const bool alpha = wl_shm_buffer_get_format(shm) == WL_SHM_FORMAT_ARGB8888;
    QImage image(w, h, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    wl_shm_buffer_begin_access(shm);
    const auto *pixels = static_cast<const uchar *>(wl_shm_buffer_get_data(shm));
    for (int y = 0; y < h; ++y)
        memcpy(image.scanLine(y), pixels + ptrdiff_t(y) * stride, size_t(w) * 4);
    wl_shm_buffer_end_access(shm);
    return image;
}

void commit(wl_client *, wl_resource *resource)
{
    Surface *s = data<Surface>(resource);
    s->scale = s->pendingScale;
    wl_resource *buffer = s->pending;
    if (s->attached)
        s->hasBuffer = buffer != nullptr;
    const bool newBuffer = s->attached && buffer;
    s->attached = false;
    setPending(s, nullptr);
    LockSurface *ls = s->role;
    QImage image {};
    if (wl_shm_buffer *shm = newBuffer ? wl_shm_buffer_get(buffer) : nullptr)
        image = copyPixels(shm);
    if (newBuffer)
        wl_buffer_send_release(buffer);
    for (wl_resource *frame : s->frames) {
        wl_callback_send_done(frame, now());
        wl_resource_destroy(frame);
    }
    s->frames.clear();
    if (!ls)
        return;
    if (!ls->acked)
        return fail(ls->resource, EXT_SESSION_LOCK_SURFACE_V1_ERROR_COMMIT_BEFORE_FIRST_ACK, "commit before ack");
    if (!s->hasBuffer)
        return fail(ls->resource, EXT_SESSION_LOCK_SURFACE_V1_ERROR_NULL_BUFFER, "commit with a null buffer");
    if (!newBuffer)
        return;
    const int w = image.width() / s->scale, h = image.height() / s->scale;
    if (w != ls->w || h != ls->h)
        return fail(ls->resource, EXT_SESSION_LOCK_SURFACE_V1_ERROR_DIMENSIONS_MISMATCH, "size differs from configure");
    ls->image = image;
    ls->committed = true;
    if (live(ls))
        say("commit %d %d %d", ls->output->index, w, h);
    checkLocked();
    refocus();
}

const struct wl_region_interface regionImpl = {
    .destroy = destroyResource,
    .add = [](wl_client *, wl_resource *, int32_t, int32_t, int32_t, int32_t) {},
    .subtract = [](wl_client *, wl_resource *, int32_t, int32_t, int32_t, int32_t) {},
};

const struct wl_surface_interface surfaceImpl = {
    .destroy = destroyResource,
    .attach =
        [](wl_client *, wl_resource *resource, wl_resource *buffer, int32_t, int32_t) {
            Surface *s = data<Surface>(resource);
            setPending(s, buffer);
            s->attached = true;
        },
    .damage = [](wl_client *, wl_resource *, int32_t, int32_t, int32_t, int32_t) {},
    .frame =
        [](wl_client *client, wl_resource *resource, uint32_t id) {
            wl_resource *frame = wl_resource_create(client, &wl_callback_interface, 1, id);
            data<Surface>(resource)->frames.push_back(frame);
        },
    .set_opaque_region = [](wl_client *, wl_resource *, wl_resource *) {},
    .set_input_region = [](wl_client *, wl_resource *, wl_resource *) {},
    .commit = commit,
    .set_buffer_transform = [](wl_client *, wl_resource *, int32_t) {},
    .set_buffer_scale =
        [](wl_client *, wl_resource *resource, int32_t scale) {
            if (scale < 1)
                return fail(resource, WL_SURFACE_ERROR_INVALID_SCALE, "invalid scale");
            data<Surface>(resource)->pendingScale = scale;
        },
    .damage_buffer = [](wl_client *, wl_resource *, int32_t, int32_t, int32_t, int32_t) {},
    .offset = nullptr,
};

void surfaceGone(wl_resource *resource)
{
    Surface *s = data<Surface>(resource);
    setPending(s, nullptr);
    for (wl_resource *frame : s->frames)
        wl_resource_destroy(frame);
    if (s->role)
        s->role->surface = nullptr;
    delete s;
    refocus();
}

const struct wl_compositor_interface compositorImpl = {
    .create_surface =
        [](wl_client *client, wl_resource *resource, uint32_t id) {
            auto *s = new Surface { wl_resource_create(
                client, &wl_surface_interface, wl_resource_get_version(resource), id) };
            s->bufferGone.notify = [](wl_listener *listener, void *) {
                Surface *owner = wl_container_of(listener, owner, bufferGone);
                wl_list_remove(&listener->link);
                owner->pending = nullptr;
            };
            wl_resource_set_implementation(s->resource, &surfaceImpl, s, surfaceGone);
        },
    .create_region =
        [](wl_client *client, wl_resource *, uint32_t id) {
            wl_resource *region = wl_resource_create(client, &wl_region_interface, 1, id);
            wl_resource_set_implementation(region, &regionImpl, nullptr, nullptr);
        },
};

// --- wl_output, wl_seat
const struct wl_output_interface outputImpl = { .release = destroyResource };

void bindOutput(wl_client *client, void *userData, uint32_t version, uint32_t id)
{
    auto *o = static_cast<Output *>(userData);
    wl_resource *r = wl_resource_create(client, &wl_output_interface, int(version), id);
    wl_resource_set_implementation(r, &outputImpl, o, [](wl_resource *resource) {
        if (auto *out = data<Output>(resource))
            std::erase(out->resources, resource);
    });
    o->resources.push_back(r);
    wl_output_send_geometry(
        r, o->x, o->y, o->w / 4, o->h / 4, WL_OUTPUT_SUBPIXEL_UNKNOWN, "Pelk", "Fake", WL_OUTPUT_TRANSFORM_NORMAL);
    wl_output_send_mode(r, WL_OUTPUT_MODE_CURRENT | WL_OUTPUT_MODE_PREFERRED, o->w * o->scale, o->h * o->scale, 60000);
    if (version >= 2) {
        wl_output_send_scale(r, o->scale);
        wl_output_send_done(r);
    }
}

void addOutput(int w, int h, int x, int y, int scale)
{
    auto *o = new Output { int(outputs.size()), w, h, x, y, std::max(scale, 1) };
    o->global = wl_global_create(display, &wl_output_interface, 3, o, bindOutput);
    outputs.push_back(o);
}

const struct wl_keyboard_interface keyboardImpl = { .release = destroyResource };
const struct wl_pointer_interface pointerImpl = {
    .set_cursor = [](wl_client *, wl_resource *, uint32_t, wl_resource *, int32_t, int32_t) {},
    .release = destroyResource,
};

const struct wl_seat_interface seatImpl = {
    .get_pointer =
        [](wl_client *client, wl_resource *seat, uint32_t id) {
            wl_resource *r = wl_resource_create(client, &wl_pointer_interface, wl_resource_get_version(seat), id);
            wl_resource_set_implementation(r, &pointerImpl, nullptr, [](wl_resource *p) { std::erase(pointers, p); });
            pointers.push_back(r);
        },
    .get_keyboard =
        [](wl_client *client, wl_resource *seat, uint32_t id) {
            wl_resource *r = wl_resource_create(client, &wl_keyboard_interface, wl_resource_get_version(seat), id);
            wl_resource_set_implementation(r, &keyboardImpl, nullptr, [](wl_resource *k) { std::erase(keyboards, k); });
            keyboards.push_back(r);
            wl_keyboard_send_keymap(r, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, keymapFd, uint32_t(keymapSize));
            wl_keyboard_send_repeat_info(r, 25, 600);
            if (keyboardFocus && wl_resource_get_client(keyboardFocus->surface->resource) == client)
                enter(r, keyboardFocus);
        },
    .get_touch = [](wl_client *, wl_resource *seat,
                     uint32_t) { fail(seat, WL_SEAT_ERROR_MISSING_CAPABILITY, "no touch capability"); },
    .release = destroyResource,
};

// --- ext-session-lock-v1
void lockSurfaceGone(wl_resource *resource)
{
    auto *ls = data<LockSurface>(resource);
    if (ls->surface)
        ls->surface->role = nullptr;
    if (ls->lock)
        std::erase(ls->lock->surfaces, ls);
    for (LockSurface **p : { &keyboardFocus, &pointerFocus, &clicked })
        if (*p == ls)
            *p = nullptr;
    delete ls;
    refocus();
}

const struct ext_session_lock_surface_v1_interface lockSurfaceImpl = {
    .destroy = destroyResource,
    .ack_configure =
        [](wl_client *, wl_resource *resource, uint32_t serial) {
            auto *ls = data<LockSurface>(resource);
            auto it = std::find(ls->configures.begin(), ls->configures.end(), serial);
            if (it == ls->configures.end())
                return fail(resource, EXT_SESSION_LOCK_SURFACE_V1_ERROR_INVALID_SERIAL, "unknown configure serial");
            ls->configures.erase(ls->configures.begin(), it + 1);
            ls->acked = true;
            ls->w = ls->output ? ls->output->w : ls->w;
            ls->h = ls->output ? ls->output->h : ls->h;
        },
};

void lockGone(wl_resource *resource)
{
    auto *lock = data<Lock>(resource);
    for (LockSurface *ls : lock->surfaces)
        ls->lock = nullptr;
    if (active == lock) {
        active = nullptr;
        say("abandoned");
    }
    delete lock;
    refocus();
}

const struct ext_session_lock_v1_interface lockImpl = {
    .destroy =
        [](wl_client *, wl_resource *resource) {
            if (data<Lock>(resource)->lockedSent)
                return fail(resource, EXT_SESSION_LOCK_V1_ERROR_INVALID_DESTROY, "destroy after locked");
            wl_resource_destroy(resource);
        },
    .get_lock_surface =
        [](wl_client *client, wl_resource *resource, uint32_t id, wl_resource *surface, wl_resource *output) {
            auto *lock = data<Lock>(resource);
            Surface *s = data<Surface>(surface);
            auto *o = data<Output>(output);
            if (s->hadRole)
                return fail(resource, EXT_SESSION_LOCK_V1_ERROR_ROLE, "surface already has a role");
            if (s->hasBuffer || (s->attached && s->pending))
                return fail(resource, EXT_SESSION_LOCK_V1_ERROR_ALREADY_CONSTRUCTED, "surface has a buffer");
            if (o && std::any_of(lock->surfaces.begin(), lock->surfaces.end(), [o](LockSurface *ls) {
                    return ls->output == o;
                }))
                return fail(resource, EXT_SESSION_LOCK_V1_ERROR_DUPLICATE_OUTPUT, "output already has a lock surface");
            auto *ls = new LockSurface { wl_resource_create(client, &ext_session_lock_surface_v1_interface, 1, id), s,
                o, lock };
            wl_resource_set_implementation(ls->resource, &lockSurfaceImpl, ls, lockSurfaceGone);
            s->role = ls;
            s->hadRole = true;
            lock->surfaces.push_back(ls);
            if (!o)
                return; // its output is gone: an inert lock surface
            ls->configures.push_back(wl_display_next_serial(display));
            ext_session_lock_surface_v1_send_configure(
                ls->resource, ls->configures.back(), uint32_t(o->w), uint32_t(o->h));
            if (lock == active)
                say("surface %d %d %d", o->index, o->w, o->h);
        },
    .unlock_and_destroy =
        [](wl_client *, wl_resource *resource) {
            auto *lock = data<Lock>(resource);
            if (!lock->lockedSent)
                return fail(resource, EXT_SESSION_LOCK_V1_ERROR_INVALID_UNLOCK, "unlock before locked");
            if (active == lock) {
                active = nullptr;
                say("unlocked");
            }
            wl_resource_destroy(resource);
        },
};

const struct ext_session_lock_manager_v1_interface managerImpl = {
    .destroy = destroyResource,
    .lock =
        [](wl_client *client, wl_resource *, uint32_t id) {
            say("lock");
            auto *lock = new Lock { wl_resource_create(client, &ext_session_lock_v1_interface, 1, id) };
            wl_resource_set_implementation(lock->resource, &lockImpl, lock, lockGone);
            if (active || foreign) {
                ext_session_lock_v1_send_finished(lock->resource);
                say("denied");
                return;
            }
            active = lock; // a new one, or taking over an abandoned session
            checkLocked();
        },
};

template <auto Impl, const wl_interface *Interface>
void bindGlobal(wl_client *client, void *, uint32_t version, uint32_t id)
{
    wl_resource *r = wl_resource_create(client, Interface, int(version), id);
    wl_resource_set_implementation(r, Impl, nullptr, nullptr);
    if (Interface == &wl_seat_interface) {
        wl_seat_send_capabilities(r, WL_SEAT_CAPABILITY_KEYBOARD | WL_SEAT_CAPABILITY_POINTER);
        if (version >= 2)
            wl_seat_send_name(r, "seat0");
    }
}

// --- input and commands
void key(uint32_t code, bool down)
{
    refocus();
    if (down == (std::find(pressed.begin(), pressed.end(), code) != pressed.end()))
        return;
    if (down)
        pressed.push_back(code);
    else
        std::erase(pressed, code);
    xkb_state_update_key(xkb, code + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    if (!keyboardFocus)
        return;
    eachOf(keyboards, keyboardFocus, [&](wl_resource *k) {
        wl_keyboard_send_key(k, wl_display_next_serial(display), now(), code,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    });
    const uint32_t mods[4] = { xkb_state_serialize_mods(xkb, XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(xkb, XKB_STATE_MODS_LATCHED), xkb_state_serialize_mods(xkb, XKB_STATE_MODS_LOCKED),
        xkb_state_serialize_layout(xkb, XKB_STATE_LAYOUT_EFFECTIVE) };
    if (memcmp(mods, sentMods, sizeof mods) != 0) {
        memcpy(sentMods, mods, sizeof mods);
        eachOf(keyboards, keyboardFocus, sendModifiers);
    }
}

void click(int x, int y)
{
    LockSurface *target = nullptr;
    if (active)
        for (LockSurface *ls : active->surfaces)
            if (live(ls) && ls->committed && x >= ls->output->x && x < ls->output->x + ls->output->w
                && y >= ls->output->y && y < ls->output->y + ls->output->h)
                target = ls;
    if (target != pointerFocus && pointerFocus && pointerFocus->surface)
        eachOf(pointers, pointerFocus, [](wl_resource *p) {
            wl_pointer_send_leave(p, wl_display_next_serial(display), pointerFocus->surface->resource);
            wl_pointer_send_frame(p);
        });
    if (!target) {
        pointerFocus = nullptr;
        return;
    }
    const wl_fixed_t sx = wl_fixed_from_int(x - target->output->x), sy = wl_fixed_from_int(y - target->output->y);
    const bool entering = target != pointerFocus;
    pointerFocus = clicked = target;
    refocus();
    eachOf(pointers, target, [&](wl_resource *p) {
        if (entering)
            wl_pointer_send_enter(p, wl_display_next_serial(display), target->surface->resource, sx, sy);
        wl_pointer_send_motion(p, now(), sx, sy);
        wl_pointer_send_frame(p);
        for (auto state : { WL_POINTER_BUTTON_STATE_PRESSED, WL_POINTER_BUTTON_STATE_RELEASED }) {
            wl_pointer_send_button(p, wl_display_next_serial(display), now(), BTN_LEFT, state);
            wl_pointer_send_frame(p);
        }
    });
}

void removeOutput(Output *o)
{
    if (o->gone)
        return;
    o->gone = true;
    wl_global_remove(o->global);
    for (wl_resource *r : o->resources)
        wl_resource_set_user_data(r, nullptr);
    o->resources.clear();
    checkLocked();
    refocus();
}

void command(const std::string &line)
{
    std::istringstream in(line);
    std::string verb, what;
    in >> verb;
    int a = 0, b = 0, c = 0, d = 0, e = 1;
    const auto output = [](int n) { return n >= 0 && n < int(outputs.size()) ? outputs[size_t(n)] : nullptr; };
    if (verb == "output" && (in >> what) && what == "add" && (in >> a >> b >> c >> d)) {
        in >> e;
        addOutput(a, b, c, d, e);
        say("output %d added", int(outputs.size()) - 1);
    } else if (verb == "output" && what == "remove" && (in >> a) && output(a)) {
        removeOutput(output(a));
    } else if (verb == "key" && (in >> a) && a > 0) {
        key(uint32_t(a), true);
        key(uint32_t(a), false);
    } else if (verb == "click" && (in >> a >> b)) {
        click(a, b);
    } else if (verb == "snapshot" && (in >> a >> what)) {
        const LockSurface *shown = nullptr;
        if (active && output(a))
            for (LockSurface *ls : active->surfaces)
                if (ls->output == output(a) && ls->committed)
                    shown = ls;
        const bool ok = shown && shown->image.save(QString::fromLocal8Bit(what.c_str()), "PNG");
        say("snapshot %d %s", a, ok ? "ok" : "none");
    } else if (verb == "foreign-lock" || verb == "foreign-unlock") {
        foreign = verb == "foreign-lock"; // a lock held by some other client, as far as a new lock sees it
    } else if (verb == "quit") {
        wl_display_terminate(display);
    } else {
        fprintf(stderr, "fake-lock-compositor: unknown command: %s\n", line.c_str());
    }
}

int readStdin(int fd, uint32_t mask, void *)
{
    static std::string buffer;
    char chunk[4096];
    const ssize_t n = (mask & WL_EVENT_READABLE) ? read(fd, chunk, sizeof chunk) : 0;
    if (n <= 0) {
        wl_display_terminate(display);
        return 0;
    }
    buffer.append(chunk, size_t(n));
    for (size_t end; (end = buffer.find('\n')) != std::string::npos; buffer.erase(0, end + 1))
        command(buffer.substr(0, end));
    wl_display_flush_clients(display);
    return 0;
}

bool makeKeymap()
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names { "evdev", "pc105", "us", nullptr, nullptr };
    xkb_keymap *keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!keymap)
        return false;
    xkb = xkb_state_new(keymap);
    char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    keymapSize = strlen(text) + 1;
    keymapFd = memfd_create("keymap", MFD_CLOEXEC);
    const bool written = keymapFd >= 0 && write(keymapFd, text, keymapSize) == ssize_t(keymapSize);
    free(text);
    return written;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<int> geometry;
    for (int i = 2; i + 1 < argc; i += 2) {
        int w, h, x, y, scale = 1;
        if (!strcmp(argv[i], "--output") && sscanf(argv[i + 1], "%dx%d+%d+%d*%d", &w, &h, &x, &y, &scale) >= 4)
            geometry.insert(geometry.end(), { w, h, x, y, scale });
        else
            argc = 0;
    }
    if (argc < 2 || argc % 2 != 0 || !getenv("XDG_RUNTIME_DIR")) {
        fprintf(stderr,
            "usage: fake-lock-compositor SOCKET_NAME [--output WxH+X+Y[*SCALE]]...\n"
            "(XDG_RUNTIME_DIR must be set)\n");
        return 2;
    }
    if (!makeKeymap()) {
        fprintf(stderr, "fake-lock-compositor: no keymap\n");
        return 1;
    }
    display = wl_display_create();
    if (wl_display_add_socket(display, argv[1]) != 0) {
        fprintf(stderr, "fake-lock-compositor: cannot listen on %s\n", argv[1]);
        return 1;
    }
    wl_display_init_shm(display);
    wl_global_create(
        display, &wl_compositor_interface, 4, nullptr, bindGlobal<&compositorImpl, &wl_compositor_interface>);
    wl_global_create(display, &wl_seat_interface, 5, nullptr, bindGlobal<&seatImpl, &wl_seat_interface>);
    wl_global_create(display, &ext_session_lock_manager_v1_interface, 1, nullptr,
        bindGlobal<&managerImpl, &ext_session_lock_manager_v1_interface>);
    if (geometry.empty())
        geometry = { 1024, 768, 0, 0, 1 };
    for (size_t i = 0; i < geometry.size(); i += 5)
        addOutput(geometry[i], geometry[i + 1], geometry[i + 2], geometry[i + 3], geometry[i + 4]);
    wl_event_loop_add_fd(wl_display_get_event_loop(display), STDIN_FILENO, WL_EVENT_READABLE, readStdin, nullptr);
    say("ready");
    wl_display_run(display);
    wl_display_destroy_clients(display);
    wl_display_destroy(display);
    return 0;
}
