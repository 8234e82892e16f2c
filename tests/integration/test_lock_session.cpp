// "--lock-session" against a mock logind on a private system bus, and with no bus at all.

#include "fakes/MockSystemBus.h"

#include <QTest>

using namespace Qt::StringLiterals;
using pelk::fakes::MockLogind;

class TestLockSession : public QObject {
    Q_OBJECT

    MockLogind m_logind;
    pelk::fakes::MockSystemBus m_empty;

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::MockSystemBus::available())
            QSKIP("dbus-daemon and python3-dbusmock are needed (scripts/install-deps.sh)");
        QVERIFY2(m_logind.start() && m_empty.start(), "mock logind did not appear");
        QVERIFY(m_logind.addSession(u"c7"_s));
    }

    // Asks logind once and exits 0; the mock hands out a path for any id, but no session lives
    // at "nosuch"; then no bus, and a bus without logind. Always silent, never a display.
    void locksTheSession_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QString>("session");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("named session") << m_logind.address() << u"c7"_s << 0;
        QTest::newRow("no such session") << m_logind.address() << u"nosuch"_s << 1;
        QTest::newRow("no bus") << u"unix:path=/nonexistent/bus"_s << u"c7"_s << 1;
        QTest::newRow("bus without logind") << m_empty.address() << u"c7"_s << 1;
    }
    void locksTheSession()
    {
        QFETCH(QString, bus);
        QFETCH(QString, session);
        QFETCH(int, exitCode);
        const int before = m_logind.lockCalls(u"c7"_s);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, bus);
        env.insert(u"XDG_SESSION_ID"_s, session);
        env.remove(u"DISPLAY"_s);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(PELK_AGENT_BINARY), { u"--lock-session"_s });
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QCOMPARE(process.readAll(), QByteArray());
        QCOMPARE(m_logind.lockCalls(u"c7"_s) > before, exitCode == 0);
    }
};

QTEST_GUILESS_MAIN(TestLockSession)
#include "test_lock_session.moc"
