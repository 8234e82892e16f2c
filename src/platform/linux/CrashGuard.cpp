#include "platform/linux/CrashGuard.h"

#include "platform/linux/UniqueFd.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pelk::platform {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char *kGuardedMark = "PELK_GUARDED_UI";
constexpr const char *kOomScorePath = "/proc/self/oom_score_adj";
// While the screens are covered, how often the guard looks whether the lock was released.
constexpr milliseconds kCoveredPoll { 250 };
// How much likelier than the guard the child is to be chosen when memory runs out.
constexpr int kChildOomMargin = 100;

std::optional<int> readOomScore()
{
    FILE *file = std::fopen(kOomScorePath, "re");
    if (!file)
        return std::nullopt;
    int value = 0;
    const bool read = std::fscanf(file, "%d", &value) == 1;
    std::fclose(file);
    return read ? std::optional(value) : std::nullopt;
}

bool writeOomScore(int value)
{
    // Files under /proc/self belong to root while the process is not dumpable (see hardenProcess).
    const int dumpable = ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    const int fd = ::open(kOomScorePath, O_WRONLY | O_CLOEXEC);
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%d", value);
    const bool written = fd >= 0 && ::write(fd, text, size_t(length)) == length;
    if (fd >= 0)
        ::close(fd);
    ::prctl(PR_SET_DUMPABLE, dumpable, 0, 0, 0);
    return written;
}

// Wayland sessions are held through logind; a window of the X compatibility server would only
// hide the desktop's own lock screen.
bool waylandSession()
{
    const char *type = std::getenv("XDG_SESSION_TYPE");
    return std::getenv("WAYLAND_DISPLAY") || (type && std::string_view(type) == "wayland");
}

int statusOf(const ChildEnd &end)
{
    return end.signal ? 128 + end.signal : end.exitCode;
}

} // namespace

// The guard's own connection to the display: it notices the display going away (the session
// ended: nothing left to cover) and covers the screens during a restart.
struct CrashGuard::Display {
    xcb_connection_t *x = waylandSession() ? nullptr : xcb_connect(nullptr, nullptr);
    std::vector<uint32_t> covers;

    Display()
    {
        if (alive())
            ::fcntl(xcb_get_file_descriptor(x), F_SETFD, FD_CLOEXEC);
    }
    ~Display() { xcb_disconnect(x); }
    bool alive() const { return x && !xcb_connection_has_error(x); }
    int fd() const { return alive() ? xcb_get_file_descriptor(x) : -1; }
    void drain()
    {
        while (xcb_generic_event_t *event = x ? xcb_poll_for_event(x) : nullptr)
            std::free(event);
    }
    // Override-redirect windows over every screen, mapped before the restarted child maps its
    // own (which therefore end up above), with the keyboard focus so that typing reaches nothing.
    void cover()
    {
        if (!alive() || !covers.empty())
            return;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(x)); it.rem; xcb_screen_next(&it)) {
            const xcb_screen_t *screen = it.data;
            const uint32_t id = xcb_generate_id(x);
            const uint32_t values[] = { screen->black_pixel, 1 };
            xcb_create_window(x, XCB_COPY_FROM_PARENT, id, screen->root, 0, 0, screen->width_in_pixels,
                screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
            xcb_map_window(x, id);
            covers.push_back(id);
        }
        if (!covers.empty())
            xcb_set_input_focus(x, XCB_INPUT_FOCUS_POINTER_ROOT, covers.front(), XCB_CURRENT_TIME);
        xcb_flush(x);
    }
    void uncover()
    {
        if (covers.empty())
            return;
        for (const uint32_t id : covers)
            xcb_destroy_window(x, id);
        covers.clear();
        xcb_flush(x);
    }
};

CrashGuard::CrashGuard(Policy policy) : m_policy(std::move(policy))
{
}

bool CrashGuard::isGuardedChild()
{
    if (!std::getenv(kGuardedMark))
        return false;
    ::unsetenv(kGuardedMark);
    return true;
}

void CrashGuard::lowerOwnOomScore()
{
    // The guard asks for the lowest score the kernel allows it (-1000 with the privilege,
    // otherwise a floor it does not tell); the child keeps the score this process started
    // with, but always scores above the guard.
    const std::optional<int> start = readOomScore();
    if (!start)
        return;
    int refused = -1001;
    int allowed = *start;
    while (allowed - refused > 1) {
        const int middle = refused + (allowed - refused) / 2;
        (writeOomScore(middle) ? allowed : refused) = middle;
    }
    m_childOomScore = std::min(std::max(*start, allowed + kChildOomMargin), 1000);
}

pid_t CrashGuard::lockSession() const
{
    // Written before the fork: the child only execs.
    const char *id = std::getenv("XDG_SESSION_ID");
    const std::string session = std::string("string:") + (id && *id ? id : "auto");
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::sigprocmask(SIG_SETMASK, &m_childMask, nullptr);
    ::execlp("dbus-send", "dbus-send", "--system", "--type=method_call", "--dest=org.freedesktop.login1",
        "/org/freedesktop/login1", "org.freedesktop.login1.Manager.LockSession", session.c_str(),
        static_cast<char *>(nullptr));
    ::_exit(127);
}

pid_t CrashGuard::spawn(char **argv) const
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::sigprocmask(SIG_SETMASK, &m_childMask, nullptr);
    writeOomScore(m_childOomScore);
    ::execv("/proc/self/exe", argv);
    ::execvp(argv[0], argv);
    ::_exit(127);
}

int CrashGuard::run(char **argv)
{
    lowerOwnOomScore();
    ::setenv(kGuardedMark, "1", 1);

    // The child's end and the requests to end arrive as readable data, never interrupting.
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : { SIGCHLD, SIGTERM, SIGINT, SIGHUP })
        sigaddset(&handled, signal);
    ::sigprocmask(SIG_BLOCK, &handled, &m_childMask);
    const UniqueFd signals(::signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK));
    Display display;
    const bool hadDisplay = display.alive();
    pid_t child = signals.valid() && (hadDisplay || waylandSession()) ? spawn(argv) : -1;
    if (child < 0) {
        // Without a way to watch a child, or a display to lock, the application runs unguarded
        // (and says why it cannot start) rather than being started again and again.
        ::sigprocmask(SIG_UNBLOCK, &handled, nullptr);
        ::execv("/proc/self/exe", argv);
        return 127;
    }

    Clock::time_point started = Clock::now();
    std::optional<Clock::time_point> restartAt;
    pid_t locker = -1;
    int lastStatus = 0;
    for (;;) {
        int timeout = -1;
        if (restartAt)
            timeout = std::max(0, int(std::chrono::ceil<milliseconds>(*restartAt - Clock::now()).count()));
        if (!display.covers.empty())
            timeout = timeout < 0 ? int(kCoveredPoll.count()) : std::min(timeout, int(kCoveredPoll.count()));
        pollfd fds[] = { { signals.get(), POLLIN, 0 }, { display.fd(), POLLIN, 0 } };
        ::poll(fds, 2, timeout);
        display.drain(); // first: a child that died with the display must not be started again

        signalfd_siginfo info;
        while (::read(signals.get(), &info, sizeof info) == sizeof info) {
            const int signal = int(info.ssi_signo);
            if (signal != SIGCHLD) {
                // The child decides, as it would without a guard: it refuses while locked.
                if (child > 0)
                    ::kill(child, signal);
                else if (m_policy.lock() == LockHint::Unlocked)
                    return lastStatus;
                continue;
            }
            if (locker > 0 && ::waitpid(locker, nullptr, WNOHANG) == locker)
                locker = -1;
            int status = 0;
            if (child <= 0 || ::waitpid(child, &status, WNOHANG) != child)
                continue;
            const ChildEnd end { .signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0,
                .exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 0,
                .lived = std::chrono::duration_cast<milliseconds>(Clock::now() - started) };
            child = -1;
            lastStatus = statusOf(end);
            // Once the display is gone the session is over: there is nothing left to lock.
            const LockHint lock = m_policy.lock();
            const std::optional<milliseconds> delay
                = hadDisplay && !display.alive() ? std::nullopt : m_policy.restartAfter(end, lock);
            if (!delay)
                return lastStatus;
            if (lock == LockHint::Locked) {
                display.cover();
                // No window of the guard's can hold a Wayland desktop: its own lock screen does,
                // until the application is back with the PIN pad.
                if (waylandSession() && locker <= 0)
                    locker = lockSession();
            }
            restartAt = Clock::now() + *delay;
        }

        if (hadDisplay && !display.alive() && child <= 0)
            return lastStatus;
        if (!display.covers.empty() && m_policy.lock() != LockHint::Locked)
            display.uncover();
        if (restartAt && Clock::now() >= *restartAt) {
            child = spawn(argv);
            started = Clock::now();
            // A failed fork is tried again, a little later.
            restartAt = child > 0 ? std::nullopt : std::optional(started + kCoveredPoll);
        }
    }
}

} // namespace pelk::platform
