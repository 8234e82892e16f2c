// How fast the lock answers other X clients, measured from a client of its own (see README.md):
// the lock coming back after an unmap, a pop-up's time on top, the grab taken after another
// client lets go, the desktop's time in view while the windows are rebuilt, and the share of a
// grown screen covered 100 ms and 1 s after it grew, and the lock and unlock after the agent
// rewrote its file. Medians of ten (twenty) rounds.
#include "AgentSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegion>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using pelk::agentsim::AgentSimulator;

namespace {

constexpr int kRounds = 10;

xcb_connection_t *x = nullptr;
xcb_window_t root = 0;
QElapsedTimer clock_;
// The window beneath the lock, and how long any of it has been in view.
xcb_window_t desk = 0;
double deskShownSince = -1, deskShown = 0;

template <typename T> std::unique_ptr<T, decltype(&std::free)> own(T *reply)
{
    return { reply, &std::free };
}

double now()
{
    return double(clock_.nsecsElapsed()) / 1e6;
}

void run(const QStringList &args)
{
    QProcess p;
    p.start(args.first(), args.mid(1));
    p.waitForFinished(10000);
}

// Keeps the simulator answering while waiting; the first true of done(event) for X events
// (nullptr when none came), false after timeoutMs.
bool waitFor(const std::function<bool(xcb_generic_event_t *)> &done, int timeoutMs = 5000)
{
    const double end = now() + timeoutMs;
    while (now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        bool met = false;
        while (xcb_generic_event_t *e = xcb_poll_for_event(x)) {
            const auto *v = reinterpret_cast<xcb_visibility_notify_event_t *>(e);
            if ((e->response_type & 0x7f) == XCB_VISIBILITY_NOTIFY && v->window == desk) {
                const bool hidden = v->state == XCB_VISIBILITY_FULLY_OBSCURED;
                if (!hidden && deskShownSince < 0)
                    deskShownSince = now();
                if (hidden && deskShownSince >= 0) {
                    deskShown += now() - deskShownSince;
                    deskShownSince = -1;
                }
            }
            met = met || done(e);
            std::free(e);
        }
        if (met || done(nullptr))
            return true;
        QThread::usleep(200);
    }
    return false;
}

void pause(int ms)
{
    waitFor([](xcb_generic_event_t *) { return false; }, ms);
}

// The lock's windows: viewable override-redirect windows named "Pelk Agent", with their frames.
std::vector<std::pair<xcb_window_t, QRect>> lockWindows()
{
    std::vector<std::pair<xcb_window_t, QRect>> found;
    auto tree = own(xcb_query_tree_reply(x, xcb_query_tree(x, root), nullptr));
    if (!tree)
        return found;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        auto a = own(xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, children[i]), nullptr));
        if (!a || !a->override_redirect || a->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        auto name = own(xcb_get_property_reply(
            x, xcb_get_property(x, 0, children[i], XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64), nullptr));
        auto g = own(xcb_get_geometry_reply(x, xcb_get_geometry(x, children[i]), nullptr));
        if (name && g
            && QByteArray(static_cast<const char *>(xcb_get_property_value(name.get())),
                   xcb_get_property_value_length(name.get()))
                == "Pelk Agent")
            found.emplace_back(children[i], QRect(g->x, g->y, g->width, g->height));
    }
    return found;
}

double coveredPercent()
{
    auto g = own(xcb_get_geometry_reply(x, xcb_get_geometry(x, root), nullptr));
    const QRect screen(0, 0, g->width, g->height);
    QRegion covered;
    for (const auto &window : lockWindows())
        covered += window.second & screen;
    double area = 0;
    for (const QRect &r : covered)
        area += double(r.width()) * r.height();
    return 100.0 * area / (double(screen.width()) * screen.height());
}

xcb_window_t makeWindow(bool overrideRedirect, QRect frame, uint32_t events)
{
    const xcb_window_t id = xcb_generate_id(x);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const uint32_t values[] = { 0xff00ff, overrideRedirect ? 1u : 0u, events };
    xcb_create_window(x, XCB_COPY_FROM_PARENT, id, root, int16_t(frame.x()), int16_t(frame.y()),
        uint16_t(frame.width()), uint16_t(frame.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(x, id);
    xcb_flush(x);
    return id;
}

bool grabInput()
{
    auto k = own(xcb_grab_keyboard_reply(
        x, xcb_grab_keyboard(x, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr));
    auto p = own(xcb_grab_pointer_reply(x,
        xcb_grab_pointer(x, 0, root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr));
    return k && p && k->status == XCB_GRAB_STATUS_SUCCESS && p->status == XCB_GRAB_STATUS_SUCCESS;
}

void ungrabInput()
{
    xcb_ungrab_keyboard(x, XCB_CURRENT_TIME);
    xcb_ungrab_pointer(x, XCB_CURRENT_TIME);
    xcb_flush(x);
}

void report(const char *what, std::vector<double> samples, const char *unit = "ms")
{
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::printf("%-34s median %7.1f %s  min %7.1f  max %7.1f  (n=%zu)\n", what, samples[samples.size() / 2], unit,
        samples.front(), samples.back(), samples.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    clock_.start();
    x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x) || qEnvironmentVariableIsEmpty("PELK_AGENT_BINARY"))
        qFatal("run me through tests/e2e/run-under-xvfb.sh with PELK_AGENT_BINARY set");
    root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    AgentSimulator sim(qEnvironmentVariable("PELK_E2E_AGENT_DIR"));
    sim.setSession(u"sess-bench"_s);
    if (!sim.listen())
        qFatal("the agent simulator cannot listen");
    // A window of another client under everything, which says whenever any of it comes into view.
    desk = makeWindow(false, QRect(0, 0, 1280, 800), XCB_EVENT_MASK_VISIBILITY_CHANGE);
    pause(300);

    // Grab taken after release: the lock starts while this client holds the input, then it lets go.
    std::vector<double> grab;
    QProcess agent;
    agent.setProcessChannelMode(QProcess::ForwardedChannels);
    for (int round = 0; round < kRounds; ++round) {
        while (!grabInput())
            pause(5);
        sim.lock(u"cmd-%1"_s.arg(round), u"Bench"_s);
        if (agent.state() == QProcess::NotRunning) {
            agent.start(qEnvironmentVariable("PELK_AGENT_BINARY"), { u"--background"_s });
            agent.waitForStarted();
        }
        waitFor([](xcb_generic_event_t *) { return !lockWindows().empty(); }, 20000);
        pause(300); // the lock has tried and been refused
        ungrabInput();
        const double released = now();
        // Polled every few milliseconds: a grab this client gets is given back at once.
        bool taken = false;
        while (!taken && now() - released < 5000) {
            taken = !grabInput();
            ungrabInput();
            if (!taken)
                pause(4);
        }
        grab.push_back(now() - released);
        sim.unlock();
        waitFor([](xcb_generic_event_t *) { return lockWindows().empty(); }, 20000);
    }
    sim.lock(u"cmd-bench"_s, u"Bench"_s);
    waitFor([](xcb_generic_event_t *) { return !lockWindows().empty(); }, 20000);
    pause(1500);

    // The lock back after an unmap: from the request to the window's MapNotify.
    std::vector<double> unmap;
    for (int round = 0; round < kRounds; ++round) {
        const xcb_window_t lock = lockWindows().front().first;
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(x, lock, XCB_CW_EVENT_MASK, &mask);
        xcb_unmap_window(x, lock);
        xcb_flush(x);
        const double start = now();
        if (waitFor([lock](xcb_generic_event_t *e) {
                return e && (e->response_type & 0x7f) == XCB_MAP_NOTIFY
                    && reinterpret_cast<xcb_map_notify_event_t *>(e)->window == lock;
            }))
            unmap.push_back(now() - start);
        pause(300);
    }

    // A pop-up's time on top: from its map to the server saying it is covered in full.
    std::vector<double> popup;
    for (int round = 0; round < kRounds; ++round) {
        const double start = now();
        const xcb_window_t id = makeWindow(true, QRect(40, 40, 300, 80), XCB_EVENT_MASK_VISIBILITY_CHANGE);
        if (waitFor([id](xcb_generic_event_t *e) {
                const auto *v = reinterpret_cast<xcb_visibility_notify_event_t *>(e);
                return e && (e->response_type & 0x7f) == XCB_VISIBILITY_NOTIFY && v->window == id
                    && v->state == XCB_VISIBILITY_FULLY_OBSCURED;
            }))
            popup.push_back(now() - start);
        xcb_destroy_window(x, id);
        xcb_flush(x);
        pause(300);
    }

    // The desktop in view while a new message rebuilds the windows: the window beneath is told
    // of every moment any of it shows.
    std::vector<double> gap;
    for (int round = 0; round < kRounds; ++round) {
        const xcb_window_t before = lockWindows().front().first;
        const double shownBefore = deskShown;
        sim.lock(u"cmd-bench"_s, u"Bench, message %1"_s.arg(round));
        waitFor([before](xcb_generic_event_t *e) {
            const auto windows = lockWindows();
            return !e && !windows.empty() && windows.front().first != before;
        });
        pause(300); // a late uncovering still counts
        gap.push_back(deskShown - shownBefore + (deskShownSince >= 0 ? now() - deskShownSince : 0));
    }

    // A screen that grows: the share covered 100 ms and 1 s after xrandr returns.
    std::vector<double> grown100, grown1000;
    for (int round = 0; round < kRounds; ++round) {
        run({ u"xrandr"_s, u"--output"_s, u"screen"_s, u"--off"_s, u"--fb"_s, u"1024x768"_s });
        pause(1500);
        run({ u"xrandr"_s, u"--fb"_s, u"1280x800"_s, u"--output"_s, u"screen"_s, u"--auto"_s });
        const double start = now();
        pause(int(start + 100 - now()));
        grown100.push_back(coveredPercent());
        pause(int(start + 1000 - now()));
        grown1000.push_back(coveredPercent());
    }

    // The lock following its file: from the record's rename to the window beneath covered in full
    // (locked) and in view again (unlocked). Twenty rounds, at offsets that drift across the
    // lock's own second.
    std::vector<double> locked, unlocked;
    const auto deskBecomes = [](bool hidden) {
        return [hidden](xcb_generic_event_t *e) {
            const auto *v = reinterpret_cast<xcb_visibility_notify_event_t *>(e);
            return e && (e->response_type & 0x7f) == XCB_VISIBILITY_NOTIFY && v->window == desk
                && (v->state == XCB_VISIBILITY_FULLY_OBSCURED) == hidden;
        };
    };
    for (int round = 0; round < 2 * kRounds; ++round) {
        double start = now();
        sim.unlock();
        if (waitFor(deskBecomes(false)))
            unlocked.push_back(now() - start);
        pause(300 + 137 * (round % 7));
        start = now();
        sim.lock(u"cmd-file-%1"_s.arg(round), u"Bench"_s);
        if (waitFor(deskBecomes(true)))
            locked.push_back(now() - start);
        pause(300);
    }

    report("locked after its file changed", locked);
    report("unlocked after its file changed", unlocked);
    report("grab taken after release", grab);
    report("lock back after an unmap", unmap);
    report("pop-up on top", popup);
    report("desktop in view during a rebuild", gap);
    report("grown screen covered after 100 ms", grown100, "%");
    report("grown screen covered after 1 s", grown1000, "%");

    sim.unlock();
    waitFor([](xcb_generic_event_t *) { return lockWindows().empty(); }, 20000);
    agent.terminate();
    agent.waitForFinished(10000);
    xcb_disconnect(x);
    return 0;
}
