// The console session answers from a mock logind on a private bus, and without any logind.

#include "fakes/MockSystemBus.h"
#include "platform/linux/LogindConsoleSession.h"

#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using pelk::fakes::MockLogind;
using pelk::platform::LogindConsoleSession;

class TestLogindConsoleSession : public QObject {
    Q_OBJECT
private:
    MockLogind m_logind;
    int m_sessions = 0;

    // A fresh session in the mock, so that each test starts from its own state.
    QString addSession()
    {
        const QString id = u"c"_s + QString::number(++m_sessions);
        return m_logind.addSession(id) ? id : QString();
    }

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
        if (!pelk::fakes::MockSystemBus::available())
            QSKIP("dbus-daemon and python3-dbusmock are needed (scripts/install-deps.sh)");
        QVERIFY2(m_logind.start(), "mock logind did not appear");
    }

    void followsLockedHintAndActive()
    {
        const QString id = addSession();
        QVERIFY(!id.isEmpty());
        LogindConsoleSession session(m_logind.bus(), id);
        QVERIFY(settlesTo(session, false, true));
        QSignalSpy ended(&session, &LogindConsoleSession::sessionEnded);
        m_logind.call(MockLogind::sessionPath(id), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { true });
        QVERIFY(settlesTo(session, true, true));
        m_logind.call(MockLogind::sessionPath(id), u"org.freedesktop.DBus.Properties"_s, u"Set"_s,
            { u"org.freedesktop.login1.Session"_s, u"Active"_s, QVariant::fromValue(QDBusVariant(false)) });
        QVERIFY(settlesTo(session, true, false));
        QVERIFY(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000)); // Active turning false ends it
    }

    void lockSignalAndSleepEndTheSession()
    {
        const QString id = addSession();
        LogindConsoleSession session(m_logind.bus(), id);
        // A locked hint seen means the session was found and its signals are connected.
        m_logind.call(MockLogind::sessionPath(id), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { true });
        QVERIFY(settlesTo(session, true, true));
        QSignalSpy ended(&session, &LogindConsoleSession::sessionEnded);
        m_logind.call(MockLogind::sessionPath(id), u"org.freedesktop.login1.Session"_s, u"Lock"_s, {});
        QVERIFY(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000));
        m_logind.call(u"/org/freedesktop/login1"_s, u"org.freedesktop.DBus.Mock"_s, u"EmitSignal"_s,
            { u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, u"b"_s, QVariantList { true } });
        QVERIFY(QTest::qWaitFor([&] { return ended.count() == 2; }, 10000));
    }

    void noLogindCountsAsUnlockedOnConsole()
    {
        // An unknown session, and no bus at all.
        LogindConsoleSession unknown(m_logind.bus(), u"nosuch"_s);
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
