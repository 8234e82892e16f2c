#include "platform/linux/UnixTerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace pelk::platform {

namespace {

constexpr int kSignals[] = { SIGTERM, SIGINT, SIGHUP };

int g_signalPipe[2] = { -1, -1 };

void onSignalHandler(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action { };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

UnixTerminationSignals::UnixTerminationSignals(QObject *parent) : TerminationSignals(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, &UnixTerminationSignals::drain);
    setHandler(onSignalHandler);
}

UnixTerminationSignals::~UnixTerminationSignals()
{
    setHandler(SIG_DFL);
    for (int &fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void UnixTerminationSignals::drain()
{
    char bytes[64];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) { }
    Q_EMIT requested();
}

} // namespace pelk::platform
