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

    void callSession(const QString &id, const QString &method, const QVariantList &args = {})
    {
        m_logind.call(MockLogind::sessionPath(id), u"org.freedesktop.login1.Session"_s, method, args);
    }

    // Asks until the answer matches (each question refreshes it from logind).
    static bool settlesTo(LogindConsoleSession &session, bool locked, bool onConsole)
    {
        return QTest::qWaitFor([&] {
            const auto p = session.properties();
            return p.screenIsLocked == locked && p.onConsole == onConsole;
        });
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::MockSystemBus::available())
            QSKIP("dbus-daemon and python3-dbusmock are needed (scripts/install-deps.sh)");
        QVERIFY2(m_logind.start() && m_logind.addSession(u"c1"_s) && m_logind.addSession(u"c2"_s), "no mock logind");
    }

    void followsLockedHintAndActive()
    {
        LogindConsoleSession session(m_logind.bus(), u"c1"_s);
        QVERIFY(settlesTo(session, false, true));
        QSignalSpy ended(&session, &LogindConsoleSession::sessionEnded);
        callSession(u"c1"_s, u"SetLockedHint"_s, { true });
        QVERIFY(settlesTo(session, true, true));
        m_logind.call(MockLogind::sessionPath(u"c1"_s), u"org.freedesktop.DBus.Properties"_s, u"Set"_s,
            { u"org.freedesktop.login1.Session"_s, u"Active"_s, QVariant::fromValue(QDBusVariant(false)) });
        QVERIFY(settlesTo(session, true, false));
        QTRY_COMPARE(ended.count(), 1); // Active turning false ends it
    }

    void lockSignalAndSleepEndTheSession()
    {
        LogindConsoleSession session(m_logind.bus(), u"c2"_s);
        // A locked hint seen means the session was found and its signals are connected.
        callSession(u"c2"_s, u"SetLockedHint"_s, { true });
        QVERIFY(settlesTo(session, true, true));
        QSignalSpy ended(&session, &LogindConsoleSession::sessionEnded);
        callSession(u"c2"_s, u"Lock"_s);
        QTRY_COMPARE(ended.count(), 1);
        m_logind.call(u"/org/freedesktop/login1"_s, u"org.freedesktop.DBus.Mock"_s, u"EmitSignal"_s,
            { u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, u"b"_s, QVariantList { true } });
        QTRY_COMPARE(ended.count(), 2);
    }

    void noLogindCountsAsUnlockedOnConsole()
    {
        LogindConsoleSession unknown(m_logind.bus(), u"nosuch"_s);
        LogindConsoleSession absent(QDBusConnection::connectToBus(u"unix:path=/nonexistent"_s, u"none"_s), u"c1"_s);
        // Still so once the unknown session's lookup has had its answer.
        const auto unlockedOnConsole = [&] {
            return !unknown.properties().screenIsLocked && unknown.properties().onConsole
                && !absent.properties().screenIsLocked && absent.properties().onConsole;
        };
        QVERIFY(unlockedOnConsole());
        QVERIFY(!QTest::qWaitFor([&] { return !unlockedOnConsole(); }, 300));
    }
};

QTEST_GUILESS_MAIN(TestLogindConsoleSession)
#include "test_logind_console_session.moc"
