#include "platform/linux/LinuxPlatform.h"

#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Wipe.h"
#include "platform/linux/CompositorLockdown.h"
#include "platform/linux/DBusSingleInstance.h"
#include "platform/linux/EwmhWindowStacking.h"
#include "platform/linux/GeoclueLocationService.h"
#include "platform/linux/Logind.h"
#include "platform/linux/LogindConsoleSession.h"
#include "platform/linux/LogindSessionLockdown.h"
#include "platform/linux/LogindSessionLocker.h"
#include "platform/linux/MutterGrabSettings.h"
#include "platform/linux/MutterRemoteDesktop.h"
#include "platform/linux/PkexecRunner.h"
#include "platform/linux/PortalColorScheme.h"
#include "platform/linux/PortalRemoteDesktop.h"
#include "platform/linux/ShadowDirectoryService.h"
#include "platform/linux/UnixTerminationSignals.h"
#include "platform/linux/WaylandSession.h"
#include "platform/linux/WaylandSessionLock.h"
#include "platform/linux/X11Desktop.h"
#include "platform/linux/X11DesktopLockdown.h"
#include "platform/linux/X11DisplaySleepWatcher.h"
#include "platform/linux/XwaylandLockdown.h"

#include <QDir>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace pelk::platform {

namespace {

// The agent writes its request and closes the stream at once; a writer that stalls longer than
// this is not going to finish, and the mode must not hang waiting for it.
constexpr std::chrono::milliseconds kInputTimeout { 30000 };

// Kept across logins and private to the user, where XDG keeps state.
QString portalTokenPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/pelk-agent/portal-restore-token");
}

} // namespace

void LinuxPlatform::hardenProcess()
{
    const rlimit none { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // Signals whose default ends the process, which desktop tools send for their own reasons:
    // none of them may end a locked application. Caught by a handler that does nothing rather
    // than ignored, so that the programs this process starts get them back as usual.
    struct sigaction nothing { };
    nothing.sa_handler = [](int) {};
    sigemptyset(&nothing.sa_mask);
    nothing.sa_flags = SA_RESTART;
    for (const int signal :
        { SIGUSR1, SIGUSR2, SIGQUIT, SIGALRM, SIGVTALRM, SIGPROF, SIGPIPE, SIGIO, SIGPWR, SIGSTKFLT, SIGXCPU, SIGXFSZ })
        ::sigaction(signal, &nothing, nullptr);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        ::sigaction(signal, &nothing, nullptr);
}

uint LinuxPlatform::effectiveUserId() const
{
    return uint(::geteuid());
}

uint LinuxPlatform::userId() const
{
    return uint(::getuid());
}

std::optional<QByteArray> LinuxPlatform::readStandardInput(qsizetype maxBytes)
{
    QByteArray bytes(maxBytes, Qt::Uninitialized);
    qsizetype filled = 0;
    // A request cut short still holds part of a password.
    const auto fail = [&bytes] {
        wipe(bytes);
        return std::optional<QByteArray>();
    };
    const auto deadline = std::chrono::steady_clock::now() + kInputTimeout;
    while (filled < maxBytes) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p { STDIN_FILENO, POLLIN, 0 };
        const int ready = left.count() > 0 ? ::poll(&p, 1, int(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return fail();
        const ssize_t n = ::read(STDIN_FILENO, bytes.data() + filled, size_t(maxBytes - filled));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return fail();
        }
        filled += n;
    }
    bytes.truncate(filled);
    return bytes;
}

std::unique_ptr<Clock> LinuxPlatform::clock()
{
    return std::make_unique<SystemClock>();
}

std::unique_ptr<Environment> LinuxPlatform::environment()
{
    return std::make_unique<ProcessEnvironment>();
}

std::unique_ptr<TerminationSignals> LinuxPlatform::terminationSignals()
{
    return std::make_unique<UnixTerminationSignals>();
}

std::unique_ptr<SessionLocker> LinuxPlatform::sessionLocker()
{
    return std::make_unique<LogindSessionLocker>(LogindSessionLocker::forCurrentSession());
}

std::unique_ptr<SingleInstance> LinuxPlatform::singleInstance()
{
    return std::make_unique<DBusSingleInstance>();
}

std::unique_ptr<DirectoryService> LinuxPlatform::directoryService()
{
    return std::make_unique<ShadowDirectoryService>();
}

std::shared_ptr<PrivilegedRunner> LinuxPlatform::privilegedRunner()
{
    return std::make_shared<PkexecRunner>();
}

LocationService *LinuxPlatform::locationService()
{
    return new GeoclueLocationService();
}

void LinuxPlatform::chooseWindowSystem()
{
    // Qt itself picks Wayland only when the environment says so; logind's word is read later.
    const bool wayland
        = sessionKind({}, qEnvironmentVariable("XDG_SESSION_TYPE"), qEnvironmentVariable("WAYLAND_DISPLAY"))
        == SessionKind::Wayland;
    if (wayland && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    // The PIN pad drawn into the compositor's session lock is rendered off screen, which Qt
    // Quick does in software; the few other views cost nothing to draw that way.
    if (wayland && WaylandSessionLock::offered())
        qputenv("QT_QUICK_BACKEND", "software");
}

std::unique_ptr<DesktopLockdown> LinuxPlatform::desktopLockdown()
{
    auto grabs = std::make_unique<X11DesktopLockdown>();
    if (!isWaylandSession())
        return grabs;
    // In a Wayland session X grabs hold nothing by themselves: only the compositor decides.
    auto sessionLock = std::make_unique<LogindSessionLockdown>(QDBusConnection::systemBus(), logind::currentSessionId(),
        std::unique_ptr<ConsoleSession>(LogindConsoleSession::forCurrentSession()));
    // The compositor's own session lock, where it offers one, with logind's until it confirms.
    if (qEnvironmentVariable("QT_QUICK_BACKEND") == QLatin1StringView("software") && WaylandSessionLock::offered()) {
        if (auto compositor = WaylandSessionLock::connectToCompositor())
            return std::make_unique<CompositorLockdown>(std::move(compositor), std::move(sessionLock));
    }
    if (waylandHolder(qEnvironmentVariable("XDG_CURRENT_DESKTOP"), grabs->connected()) == WaylandHolder::SessionLock)
        return sessionLock;
    X11DesktopLockdown *x11 = grabs.get();
    auto mutter = std::make_shared<MutterGrabSettings>();
    return std::make_unique<XwaylandLockdown>(std::move(grabs), std::move(sessionLock), [x11, mutter](quintptr window) {
        return x11->hasFocus(window) && mutter->keepsGrab(x11->windowClass(window));
    });
}

std::unique_ptr<WindowStacking> LinuxPlatform::windowStacking()
{
    return std::make_unique<EwmhWindowStacking>();
}

std::unique_ptr<ColorScheme> LinuxPlatform::colorScheme()
{
    return std::make_unique<PortalColorScheme>();
}

std::unique_ptr<RemoteDesktop> LinuxPlatform::remoteDesktop()
{
    // The session decides, never the display Qt opened: Xwayland sees nothing of a Wayland screen.
    if (isWaylandSession()) {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (MutterRemoteDesktop::offeredOn(bus))
            return std::make_unique<MutterRemoteDesktop>(bus);
        // Other Wayland desktops: the desktop portal, which says itself what it offers.
        if (PortalSession::reachable(bus))
            return std::make_unique<PortalRemoteDesktop>(bus, portalTokenPath(), openPipeWireFrames);
    }
    // An X11 session, or a Wayland one that nothing above lets in (X11Desktop refuses it as not shareable).
    return std::make_unique<X11Desktop>();
}

std::unique_ptr<ConsoleSession> LinuxPlatform::consoleSession()
{
    std::unique_ptr<ConsoleSession> session(LogindConsoleSession::forCurrentSession());
    // The displays going to sleep in the X server ends a session as logind's notices do.
    auto *displaySleep = new X11DisplaySleepWatcher(session.get());
    QObject::connect(
        displaySleep, &X11DisplaySleepWatcher::displaysSlept, session.get(), &ConsoleSession::sessionEnded);
    return session;
}

} // namespace pelk::platform
