#include "app/TerminationRequests.h"

#include "app/ApplicationDelegate.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pelk::app {

namespace {

constexpr int kSignals[] = { SIGTERM, SIGINT, SIGHUP };

// The signal handler only writes one byte; everything else happens in the event loop.
int g_signalPipe[2] = { -1, -1 };

void onSignalHandler(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationRequests::TerminationRequests(ApplicationDelegate &delegate, QObject *parent)
    : QObject(parent), m_delegate(delegate)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) == 0) {
        m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &TerminationRequests::onSignal);
        struct sigaction action { };
        action.sa_handler = onSignalHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : kSignals)
            ::sigaction(signal, &action, nullptr);
    }

    // A logout while locked is cancelled; one while unlocked goes ahead (and its "die" then
    // arrives as a quit request, which is asked about again below).
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
            if (!m_delegate.applicationShouldTerminate() && manager.allowsInteraction()) {
                manager.cancel();
                manager.release();
            }
        });
    }
    QCoreApplication::instance()->installEventFilter(this);
}

TerminationRequests::~TerminationRequests()
{
    struct sigaction action { };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    for (int &fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TerminationRequests::onSignal()
{
    char bytes[64];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) { }
    // One decision for however many signals arrived together.
    QCoreApplication::quit();
}

bool TerminationRequests::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != QCoreApplication::instance() || event->type() != QEvent::Quit)
        return QObject::eventFilter(watched, event);
    if (!m_delegate.applicationShouldTerminate())
        return true; // refused: the process and the lock stay
    m_delegate.applicationWillTerminate();
    QCoreApplication::exit(0);
    return true;
}

} // namespace pelk::app
