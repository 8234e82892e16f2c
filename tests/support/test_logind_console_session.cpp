// The console session answers from a mock logind on a private bus, and without any logind.

#include "platform/linux/LogindConsoleSession.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using pelk::platform::LogindConsoleSession;

class TestLogindConsoleSession : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_logind;
    QString m_address;
    int m_sessions = 0;

    QDBusConnection bus() const { return QDBusConnection::connectToBus(m_address, u"mock-system"_s); }

    QDBusMessage call(const QString &path, const QString &interface, const QString &method, const QVariantList &args)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(u"org.freedesktop.login1"_s, path, interface, method);
        message.setArguments(args);
        return bus().call(message, QDBus::Block, 5000);
    }

    // A fresh session in the mock, so that each test starts from its own state.
    QString addSession()
    {
        const QString id = u"c"_s + QString::number(++m_sessions);
        const QDBusMessage added = call(u"/org/freedesktop/login1"_s, u"org.freedesktop.DBus.Mock"_s, u"AddSession"_s,
            { id, u"seat0"_s, 1000u, u"alice"_s, true });
        return added.type() == QDBusMessage::ReplyMessage ? id : QString();
    }

    static QString path(const QString &id) { return u"/org/freedesktop/login1/session/"_s + id; }

    // Asks until the cached answer matches (each question refreshes it from logind).
    static bool settlesTo(LogindConsoleSession &session, bool locked, bool onConsole)
    {
        return QTest::qWaitFor(
            [&] {
                const auto p = session.properties();
                return p.screenIsLocked == locked && p.onConsole == onConsole;
            },
            10000);
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
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, m_address);
        m_logind.setProcessEnvironment(env);
        m_logind.start(u"/usr/bin/python3"_s, { u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, u"logind"_s });
        QVERIFY(m_logind.waitForStarted());
        QVERIFY(bus().isConnected());
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return bus().interface()->isServiceRegistered(u"org.freedesktop.login1"_s).value(); }, 20000),
            "mock logind did not appear");
    }

    void cleanupTestCase()
    {
        for (QProcess *p : { &m_logind, &m_bus }) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
        }
    }

    void followsLockedHintAndActive()
    {
        const QString id = addSession();
        QVERIFY(!id.isEmpty());
        LogindConsoleSession session(bus(), id);
        QVERIFY(settlesTo(session, false, true));
        QSignalSpy ended(&session, &LogindConsoleSession::sessionEnded);
        call(path(id), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { true });
        QVERIFY(settlesTo(session, true, true));
        call(path(id), u"org.freedesktop.DBus.Properties"_s, u"Set"_s,
            { u"org.freedesktop.login1.Session"_s, u"Active"_s, QVariant::fromValue(QDBusVariant(false)) });
        QVERIFY(settlesTo(session, true, false));
        QVERIFY(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000)); // Active turning false ends it
    }

    void lockSignalAndSleepEndTheSession()
    {
        const QString id = addSession();
        LogindConsoleSession session(bus(), id);
        // A locked hint seen means the session was found and its signals are connected.
        call(path(id), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { true });
        QVERIFY(settlesTo(session, true, true));
        QSignalSpy ended(&session, &LogindConsoleSession::sessionEnded);
        call(path(id), u"org.freedesktop.login1.Session"_s, u"Lock"_s, {});
        QVERIFY(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000));
        call(u"/org/freedesktop/login1"_s, u"org.freedesktop.DBus.Mock"_s, u"EmitSignal"_s,
            { u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, u"b"_s, QVariantList { true } });
        QVERIFY(QTest::qWaitFor([&] { return ended.count() == 2; }, 10000));
    }

    void noLogindCountsAsUnlockedOnConsole()
    {
        // An unknown session, and no bus at all.
        LogindConsoleSession unknown(bus(), u"nosuch"_s);
        LogindConsoleSession absent(QDBusConnection::connectToBus(u"unix:path=/nonexistent"_s, u"none"_s), u"c1"_s);
        for (int i = 0; i < 5; ++i) {
            for (LogindConsoleSession *s : { &unknown, &absent }) {
                const auto p = s->properties();
                QVERIFY(!p.screenIsLocked);
                QVERIFY(p.onConsole);
            }
            QTest::qWait(50);
        }
    }
};

QTEST_GUILESS_MAIN(TestLogindConsoleSession)
#include "test_logind_console_session.moc"
