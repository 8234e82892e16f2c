#include <QTest>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

// The real executable in its one-shot mode. None of these inputs can name an account that would be
// created: as root they are refused at decoding, and as another user before standard input is read.
namespace {

const QByteArray kRequest = "{\"username\":\"pelk-r-0123456789ab\",\"password\":\"correct horse battery\",\"uid\":501}";

// The agent's exit status with the given descriptor as standard input, as nobody when asked.
int runAgent(int stdinFd, bool asNobody)
{
    QList<QByteArray> args { "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" };
    if (!asNobody)
        args.clear();
    args += { PELK_AGENT_PATH, "--create-recovery-admin" };
    QList<char *> argv;
    for (QByteArray &a : args)
        argv.append(a.data());
    argv.append(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    char *env[] = { nullptr };
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv.first(), &actions, nullptr, argv.data(), env);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

class TestRecoveryMode : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
            QSKIP("needs root, and setpriv to drop it");
    }

    void notRootExitsWithoutReadingInput()
    {
        int pipeFds[2];
        QCOMPARE(::pipe2(pipeFds, O_CLOEXEC), 0);
        QCOMPARE(::write(pipeFds[1], kRequest.constData(), size_t(kRequest.size())), ssize_t(kRequest.size()));
        ::close(pipeFds[1]); // a reader would see the whole request and then its end
        QCOMPARE(runAgent(pipeFds[0], true), 1);
        // Whatever the agent had read would be gone from the pipe.
        QByteArray left(kRequest.size() + 1, '\0');
        const ssize_t n = ::read(pipeFds[0], left.data(), size_t(left.size()));
        ::close(pipeFds[0]);
        QCOMPARE(left.left(qMax<ssize_t>(n, 0)), kRequest);
    }

    void refusedInputAsRoot()
    {
        for (const char *input : { "/dev/null", "/dev/zero" }) { // empty, endless
            const int fd = ::open(input, O_RDONLY | O_CLOEXEC);
            QVERIFY(fd >= 0);
            QCOMPARE(runAgent(fd, false), 1);
            ::close(fd);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecoveryMode)
#include "test_recovery_mode.moc"
