#include <QProcess>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// What the shell script prints, run as that user with input on its standard input; $0 is the agent.
QByteArray runAs(const QString &uid, const QString &script, const QByteArray &input = {})
{
    QProcess shell;
    shell.start(u"/usr/bin/setpriv"_s,
        { "--reuid="_L1 + uid, "--regid="_L1 + uid, u"--clear-groups"_s, u"/bin/sh"_s, u"-c"_s, script,
            QStringLiteral(PELK_AGENT_PATH) });
    shell.write(input);
    shell.closeWriteChannel();
    return shell.waitForFinished(-1) ? shell.readAllStandardOutput() : QByteArray();
}

} // namespace

// The real executable in its one-shot mode. None of these inputs can name an account that would be
// created: as root they are refused at decoding, and as another user before standard input is read.
class TestRecoveryMode : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusesAndExits()
    {
        if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
            QSKIP("needs root, and setpriv to drop it");
        const QString agent = u"env -i \"$0\" --create-recovery-admin"_s;
        const QByteArray request
            = "{\"username\":\"pelk-r-0123456789ab\",\"password\":\"correct horse battery\",\"uid\":501}";
        // Not root: cat prints the whole request, left unread.
        QCOMPARE(runAs(u"65534"_s, agent + u"; echo $?; cat"_s, request), "1\n" + request);
        // Root: empty and endless input.
        QCOMPARE(runAs(u"0"_s, agent + u" </dev/null; echo $?; "_s + agent + u" </dev/zero; echo $?"_s), "1\n1\n");
    }
};

QTEST_GUILESS_MAIN(TestRecoveryMode)
#include "test_recovery_mode.moc"
