// The console session answers from a mock logind on a private bus, and without any logind.
// (Lock and sleep ending a shared session run in support_e2e.py.)

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
    MockLogind m_logind;

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::MockSystemBus::available())
            QSKIP("dbus-daemon and python3-dbusmock are needed (scripts/install-deps.sh)");
        QVERIFY2(m_logind.start() && m_logind.addSession(u"c1"_s), "no mock logind");
    }

    // The locked hint is read; Active turning false is read and ends the session at once.
    void followsLockedHintAndActive()
    {
        LogindConsoleSession session(m_logind.bus(), u"c1"_s);
        QSignalSpy ended(&session, &LogindConsoleSession::sessionEnded);
        const QString path = MockLogind::sessionPath(u"c1"_s);
        m_logind.call(path, u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { true });
        QTRY_VERIFY(session.properties().screenIsLocked);
        m_logind.call(path, u"org.freedesktop.DBus.Properties"_s, u"Set"_s,
            { u"org.freedesktop.login1.Session"_s, u"Active"_s, QVariant::fromValue(QDBusVariant(false)) });
        QTRY_COMPARE(ended.count(), 1);
        QVERIFY(!session.properties().onConsole);
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
