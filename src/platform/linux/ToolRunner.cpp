#include "platform/linux/ToolRunner.h"
#include "platform/linux/UniqueFd.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelk::platform {

namespace {

// Spawn attributes and file actions, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup()
    {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

// The child's whole environment: nothing of ours leaks into the account tools.
const char *const kEnvironment[] = { "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C", nullptr };

// Milliseconds left until the deadline, never negative.
int millisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Writes all of bytes as the tool reads them; false when it stops reading or the time runs out.
bool sendAll(int fd, const QByteArray &bytes, std::chrono::steady_clock::time_point deadline)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            return false;
        pollfd p { fd, POLLOUT, 0 };
        const int ready = ::poll(&p, 1, millisecondsLeft(deadline));
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return false;
    }
    return true;
}

// Waits for the child until the deadline; false when it is still running then.
bool waitForExit(pid_t pid, std::chrono::steady_clock::time_point deadline)
{
    // Through syscall(): this glibc's <sys/pidfd.h> is not usable from C++ (no C linkage).
    const UniqueFd pidfd(int(::syscall(SYS_pidfd_open, pid, 0)));
    if (pidfd.get() < 0)
        return false;
    for (;;) {
        const int left = millisecondsLeft(deadline);
        if (left == 0)
            return false;
        pollfd p { pidfd.get(), POLLIN, 0 };
        const int ready = ::poll(&p, 1, left);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

ToolRunner::ToolRunner(std::chrono::milliseconds timeout) : m_timeout(timeout)
{
}

std::optional<int> ToolRunner::run(const QString &program, const QStringList &arguments, const QByteArray &input) const
{
    // A socket rather than a pipe: a tool that exits early cannot raise SIGPIPE in us.
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return std::nullopt;
    UniqueFd ours(pair[0]);
    UniqueFd theirs(pair[1]);
    // Only our end may refuse to block; the tool's standard input must block as any would, or a
    // tool that reads before we have written sees no input at all.
    const int flags = ::fcntl(ours.get(), F_GETFL);
    if (flags < 0 || ::fcntl(ours.get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return std::nullopt;

    SpawnSetup setup;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_adddup2(&setup.actions, theirs.get(), STDIN_FILENO);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);

    const QByteArray path = program.toLocal8Bit();
    QList<QByteArray> argStorage { path };
    for (const QString &argument : arguments)
        argStorage.append(argument.toLocal8Bit());
    QList<char *> argv;
    for (QByteArray &argument : argStorage)
        argv.append(argument.data());
    argv.append(nullptr);

    pid_t pid = -1;
    if (::posix_spawn(
            &pid, path.constData(), &setup.actions, &setup.attr, argv.data(), const_cast<char *const *>(kEnvironment))
        != 0)
        return std::nullopt;
    theirs.reset();

    const auto deadline = std::chrono::steady_clock::now() + m_timeout;
    sendAll(ours.get(), input, deadline); // a tool that stops reading early is judged by its status
    ::shutdown(ours.get(), SHUT_WR);

    const bool exited = waitForExit(pid, deadline);
    if (!exited)
        ::kill(-pid, SIGKILL); // the tool and anything it started
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    if (!exited || !WIFEXITED(status))
        return std::nullopt;
    return WEXITSTATUS(status);
}

} // namespace pelk::platform
