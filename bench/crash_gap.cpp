// Kill to covered: while the agent says locked, the application that draws the lock is killed
// (SIGKILL) ten times; each time this measures how long until its windows are gone and every
// screen shows no desktop again (the guard's cover or the new lock), and until a new
// application holds the input. Runs on a private display (see README.md):
//   tests/e2e/run-under-xvfb.sh build/bench/bench-crash-gap build/src/pelk-agent
#include "AgentSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRounds = 10;
constexpr uint32_t kMagenta = 0xff00ff;
// The guard restarts at once only after a run that lasted; a little longer than that.
constexpr int kSettleMs = 5500;

xcb_connection_t *x = nullptr;
xcb_screen_t *screen = nullptr;

bool waitFor(const std::function<bool()> &condition, int timeoutMs, int stepMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        ::usleep(useconds_t(stepMs) * 1000);
    }
    return true;
}

// The desktop: a magenta window over the whole screen.
void showDesktop()
{
    const uint32_t id = xcb_generate_id(x);
    const uint32_t values[] = { kMagenta };
    xcb_create_window(x, XCB_COPY_FROM_PARENT, id, screen->root, 0, 0, screen->width_in_pixels,
        screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
    xcb_map_window(x, id);
    xcb_flush(x);
}

// No magenta at the centre and near each corner.
bool covered()
{
    const int w = screen->width_in_pixels, h = screen->height_in_pixels;
    for (const auto &[px, py] :
        { std::pair { w / 2, h / 2 }, { 5, 5 }, { w - 5, 5 }, { 5, h - 5 }, { w - 5, h - 5 } }) {
        xcb_get_image_reply_t *image = xcb_get_image_reply(
            x, xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, int16_t(px), int16_t(py), 1, 1, ~0u), nullptr);
        const bool desktop = image && xcb_get_image_data_length(image) >= 4
            && (*reinterpret_cast<const uint32_t *>(xcb_get_image_data(image)) & 0xffffff) == kMagenta;
        std::free(image);
        if (!image || desktop)
            return false;
    }
    return true;
}

// Whether another client holds the keyboard (a grab this client gets is given back at once).
bool inputHeld()
{
    xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(
        x, xcb_grab_keyboard(x, 0, screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    const bool held = reply && reply->status != XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    xcb_ungrab_keyboard(x, XCB_CURRENT_TIME);
    xcb_flush(x);
    return held;
}

// The topmost window: the lock's while it is up.
uint32_t topWindow()
{
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(x, xcb_query_tree(x, screen->root), nullptr);
    const int count = tree ? xcb_query_tree_children_length(tree) : 0;
    const uint32_t top = count ? xcb_query_tree_children(tree)[count - 1] : 0;
    std::free(tree);
    return top;
}

bool exists(uint32_t window)
{
    xcb_get_window_attributes_reply_t *attributes
        = xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, window), nullptr);
    std::free(attributes);
    return attributes != nullptr;
}

pid_t childOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    return file.open(QIODevice::ReadOnly) ? pid_t(file.readAll().trimmed().split(' ')[0].toInt()) : 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return (values[(values.size() - 1) / 2] + values[values.size() / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2 || qEnvironmentVariableIsEmpty("PELK_E2E_AGENT_DIR")) {
        std::fprintf(stderr, "usage: run-under-xvfb.sh %s PELK_AGENT_BINARY\n", argv[0]);
        return 2;
    }
    x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x))
        return 2;
    screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    pelk::agentsim::AgentSimulator sim(qEnvironmentVariable("PELK_E2E_AGENT_DIR"));
    sim.setPin(QStringLiteral("246810"));
    if (!sim.listen() || !sim.lock(QStringLiteral("cmd-bench")))
        return 2;
    showDesktop();

    QProcess agent;
    agent.setProcessChannelMode(QProcess::ForwardedChannels);
    agent.start(QString::fromLocal8Bit(argv[1]), { QStringLiteral("--background") });
    if (!waitFor([] { return covered() && inputHeld(); }, 60000, 50)) {
        std::fprintf(stderr, "the lock did not come up\n");
        return 1;
    }

    std::vector<double> coveredMs, heldMs;
    for (int round = 0; round < kRounds; ++round) {
        waitFor([] { return false; }, kSettleMs, 50);
        const pid_t ui = childOf(agent.processId());
        const uint32_t lockWindow = topWindow();
        QElapsedTimer timer;
        timer.start();
        ::kill(ui, SIGKILL);
        // The killed application's windows go first; then nothing of the desktop may show.
        const bool cover = waitFor([&] { return !exists(lockWindow); }, 10000, 1) && waitFor(covered, 10000, 1);
        coveredMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!cover || !waitFor(inputHeld, 30000, 10)) {
            std::fprintf(stderr, "round %d: the lock did not come back\n", round + 1);
            return 1;
        }
        heldMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        std::printf("round %2d: covered after %7.1f ms, input held after %7.1f ms\n", round + 1, coveredMs.back(),
            heldMs.back());
    }
    std::printf("median of %d: covered after %.1f ms, input held again after %.1f ms\n", kRounds, median(coveredMs),
        median(heldMs));

    sim.unlock();
    waitFor([] { return !inputHeld(); }, 20000, 100);
    agent.terminate();
    agent.waitForFinished(10000);
    xcb_disconnect(x);
    return 0;
}
