// "--lock-session" against a mock logind on a private system bus, and with no bus at all.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

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
    if (sessionId.isEmpty())
        env.remove(u"XDG_SESSION_ID"_s);
    else
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
    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_logind;
    QString m_address;

    bool waitForName(QDBusConnection &bus, const QString &name)
    {
        for (int i = 0; i < 200; ++i) {
            if (bus.interface()->isServiceRegistered(name))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    QDBusConnection bus() const { return QDBusConnection::connectToBus(m_address, u"mock-system"_s); }

    int lockCalls(const QString &sessionPath)
    {
        QDBusInterface mock(u"org.freedesktop.login1"_s, sessionPath, u"org.freedesktop.DBus.Mock"_s, bus());
        const QDBusMessage reply = mock.call(u"GetCalls"_s);
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
            if (method == u"Lock")
                ++count;
        }
        calls.endArray();
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!QFile::exists(u"/usr/bin/dbus-daemon"_s) || !QFile::exists(u"/usr/bin/python3"_s))
            QSKIP("dbus-daemon and python3-dbusmock are needed (scripts/install-deps.sh)");
        const QString socket = m_dir.filePath(u"system_bus_socket"_s);
        m_address = u"unix:path="_s + socket;
        m_bus.start(u"/usr/bin/dbus-daemon"_s,
            { u"--session"_s, u"--nofork"_s, u"--nopidfile"_s, u"--address="_s + m_address });
        QVERIFY(m_bus.waitForStarted());
        for (int i = 0; i < 200 && !QFile::exists(socket); ++i)
            QTest::qWait(25);
        QVERIFY(QFile::exists(socket));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, m_address);
        m_logind.setProcessEnvironment(env);
        m_logind.start(u"/usr/bin/python3"_s, { u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, u"logind"_s });
        QVERIFY(m_logind.waitForStarted());
        QDBusConnection connection = bus();
        QVERIFY(connection.isConnected());
        QVERIFY2(waitForName(connection, u"org.freedesktop.login1"_s), "mock logind did not appear");

        QDBusInterface manager(
            u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s, u"org.freedesktop.DBus.Mock"_s, connection);
        const QDBusMessage added = manager.call(u"AddSession"_s, u"c7"_s, u"seat0"_s, 1000u, u"alice"_s, true);
        QVERIFY2(added.type() == QDBusMessage::ReplyMessage, qPrintable(added.errorMessage()));
    }

    void cleanupTestCase()
    {
        for (QProcess *p : { &m_logind, &m_bus }) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
        }
    }

    void locksTheNamedSession()
    {
        const RunResult result = runLockSession(m_address, u"c7"_s);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output, QByteArray());
        QCOMPARE(lockCalls(u"/org/freedesktop/login1/session/c7"_s), 1);
    }

    void unknownSessionFails()
    {
        // The mock hands out a path for any id, but no session lives there.
        const RunResult result = runLockSession(m_address, u"nosuch"_s);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.output, QByteArray());
    }

    void noBusFails()
    {
        const RunResult result = runLockSession(u"unix:path="_s + m_dir.filePath(u"absent"_s), u"c7"_s);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.output, QByteArray());
    }

    void busWithoutLogindFails()
    {
        QProcess other;
        const QString socket = m_dir.filePath(u"empty_bus"_s);
        other.start(u"/usr/bin/dbus-daemon"_s,
            { u"--session"_s, u"--nofork"_s, u"--nopidfile"_s, u"--address=unix:path="_s + socket });
        QVERIFY(other.waitForStarted());
        for (int i = 0; i < 200 && !QFile::exists(socket); ++i)
            QTest::qWait(25);
        const RunResult result = runLockSession(u"unix:path="_s + socket, u"c7"_s);
        other.terminate();
        other.waitForFinished(5000);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.output, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestLockSession)
#include "test_lock_session.moc"
