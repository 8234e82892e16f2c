// "--lock-session" against a mock logind on a private system bus, and with no bus at all.

#include "fakes/MockSystemBus.h"

#include <QDBusArgument>
#include <QTest>

using namespace Qt::StringLiterals;
using pelk::fakes::MockLogind;

namespace {

struct RunResult {
    int exitCode = -1;
    QByteArray output; // stdout and stderr together
};

RunResult runLockSession(const QString &busAddress, const QString &sessionId)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, busAddress);
    env.insert(u"XDG_SESSION_ID"_s, sessionId);
    env.remove(u"DISPLAY"_s); // the one-shot mode must not need a display
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(PELK_AGENT_BINARY), { u"--lock-session"_s });
    if (!process.waitForFinished(30000))
        return {};
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAll() };
}

} // namespace

class TestLockSession : public QObject {
    Q_OBJECT
private:
    MockLogind m_logind;

    int lockCalls(const QString &id)
    {
        const QDBusMessage reply
            = m_logind.call(MockLogind::sessionPath(id), u"org.freedesktop.DBus.Mock"_s, u"GetCalls"_s, {});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return -1;
        int count = 0;
        const QDBusArgument calls = reply.arguments().value(0).value<QDBusArgument>();
        calls.beginArray();
        while (!calls.atEnd()) {
            qulonglong time = 0;
            QString method;
            QVariantList args;
            calls.beginStructure();
            calls >> time >> method >> args;
            calls.endStructure();
            count += method == u"Lock";
        }
        calls.endArray();
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::MockSystemBus::available())
            QSKIP("dbus-daemon and python3-dbusmock are needed (scripts/install-deps.sh)");
        QVERIFY2(m_logind.start(), "mock logind did not appear");
        QVERIFY(m_logind.addSession(u"c7"_s));
    }

    void locksTheNamedSession()
    {
        const RunResult result = runLockSession(m_logind.address(), u"c7"_s);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output, QByteArray());
        QCOMPARE(lockCalls(u"c7"_s), 1);
    }

    // The mock hands out a path for any id, but no session lives at "nosuch"; then no bus at
    // all, and a bus without logind on it. Each fails quietly.
    void failuresExitWithOne()
    {
        pelk::fakes::MockSystemBus empty;
        QVERIFY(empty.start());
        for (const auto &[address, id] : { std::pair(m_logind.address(), u"nosuch"_s),
                 std::pair(u"unix:path=/nonexistent/bus"_s, u"c7"_s), std::pair(empty.address(), u"c7"_s) }) {
            const RunResult result = runLockSession(address, id);
            QCOMPARE(result.exitCode, 1);
            QCOMPARE(result.output, QByteArray());
        }
    }
};

QTEST_GUILESS_MAIN(TestLockSession)
#include "test_lock_session.moc"
