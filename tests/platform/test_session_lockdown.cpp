// A Wayland session is held by its own lock screen: the lockdown keeps the session locked
// through a mock logind and never reports holding while it is not. The session's kind comes
// from the session itself, and Mutter's settings decide whether the PIN pad's grab can hold.

#include "fakes/MockSystemBus.h"
#include "platform/linux/LogindConsoleSession.h"
#include "platform/linux/LogindSessionLockdown.h"
#include "platform/linux/MutterGrabSettings.h"
#include "platform/linux/WaylandSession.h"

#include <QDBusArgument>
#include <QTest>

using namespace Qt::StringLiterals;
using pelk::fakes::MockLogind;
using pelk::platform::LogindConsoleSession;
using pelk::platform::LogindSessionLockdown;
using pelk::platform::SessionKind;
using pelk::platform::WaylandHolder;

class TestSessionLockdown : public QObject {
    Q_OBJECT
private:
    MockLogind m_logind;

    int lockCalls(const QString &id)
    {
        const QDBusMessage reply = m_logind.call(
            MockLogind::sessionPath(id), u"org.freedesktop.DBus.Mock"_s, u"GetMethodCalls"_s, { u"Lock"_s });
        const auto calls = reply.arguments().value(0).value<QDBusArgument>();
        int count = 0;
        calls.beginArray();
        while (!calls.atEnd()) {
            qulonglong time = 0;
            QVariantList arguments;
            calls.beginStructure();
            calls >> time >> arguments;
            calls.endStructure();
            ++count;
        }
        calls.endArray();
        return count;
    }

    std::unique_ptr<LogindSessionLockdown> lockdown(const QString &id)
    {
        return std::make_unique<LogindSessionLockdown>(
            m_logind.bus(), id, std::make_unique<LogindConsoleSession>(m_logind.bus(), id));
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!MockLogind::available())
            QSKIP("dbus-daemon and python3-dbusmock are needed (scripts/install-deps.sh)");
        QVERIFY2(m_logind.start() && m_logind.addSession(u"w1"_s), "no mock logind");
    }

    void keepsTheSessionLockedWhileTheLockHolds()
    {
        auto held = lockdown(u"w1"_s);
        QVERIFY(!held->force(0));
        QTRY_VERIFY(lockCalls(u"w1"_s) >= 1);
        QVERIFY(!held->limitation().isEmpty());

        // The desktop's lock screen came up: now the device is held.
        m_logind.call(
            MockLogind::sessionPath(u"w1"_s), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { true });
        QTRY_VERIFY(held->force(0));

        // Unlocked behind the lock's back: not held, and locked again.
        const int before = lockCalls(u"w1"_s);
        m_logind.call(
            MockLogind::sessionPath(u"w1"_s), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { false });
        QTRY_VERIFY(!held->force(0) && lockCalls(u"w1"_s) > before);
    }

    void anUnknownSessionIsNeverHeld()
    {
        auto held = lockdown(u"nosuch"_s);
        QVERIFY(!QTest::qWaitFor([&] { return held->force(0); }, 1500));
        QVERIFY(pelk::platform::logindSessionType(m_logind.bus(), u"nosuch"_s).isEmpty());
    }

    void theSessionSaysWhatKindItIs_data()
    {
        QTest::addColumn<QString>("logind");
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("waylandDisplay");
        QTest::addColumn<bool>("wayland");
        QTest::newRow("logind first") << "wayland"
                                      << "x11"
                                      << "" << true;
        QTest::newRow("logind x11 in a nested compositor") << "x11"
                                                           << "wayland"
                                                           << "wayland-1" << false;
        QTest::newRow("logind tty, the variable") << "tty"
                                                  << "Wayland"
                                                  << "" << true;
        QTest::newRow("only a Wayland display") << ""
                                                << ""
                                                << "wayland-0" << true;
        QTest::newRow("the variable over the display") << ""
                                                       << "x11"
                                                       << "wayland-0" << false;
        QTest::newRow("nothing says Wayland") << ""
                                              << ""
                                              << "" << false;
    }
    void theSessionSaysWhatKindItIs()
    {
        QFETCH(QString, logind);
        QFETCH(QString, xdg);
        QFETCH(QString, waylandDisplay);
        QFETCH(bool, wayland);
        QCOMPARE(pelk::platform::sessionKind(logind, xdg, waylandDisplay) == SessionKind::Wayland, wayland);
    }

    void logindTellsTheSessionType()
    {
        m_logind.call(MockLogind::sessionPath(u"w1"_s), u"org.freedesktop.DBus.Mock"_s, u"UpdateProperties"_s,
            { u"org.freedesktop.login1.Session"_s, QVariantMap { { u"Type"_s, u"wayland"_s } } });
        QCOMPARE(pelk::platform::logindSessionType(m_logind.bus(), u"w1"_s), u"wayland"_s);
    }

    void onlyGnomeOnXwaylandTriesThePinPadsGrab()
    {
        QCOMPARE(pelk::platform::waylandHolder(u"ubuntu:GNOME"_s, true), WaylandHolder::XwaylandGrab);
        QCOMPARE(pelk::platform::waylandHolder(u"GNOME"_s, false), WaylandHolder::SessionLock);
        QCOMPARE(pelk::platform::waylandHolder(u"KDE"_s, true), WaylandHolder::SessionLock);
    }

    void mutterKeepsTheGrabOnlyWithEverySetting_data()
    {
        QTest::addColumn<bool>("allow");
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QStringList>("restore");
        QTest::addColumn<bool>("keeps");
        const QStringList app { u"pelk-agent"_s };
        QTest::newRow("the package's override") << true << app << QStringList() << true;
        QTest::newRow("grabs not allowed") << false << app << QStringList() << false;
        QTest::newRow("Super+Escape ends it") << true << app << QStringList { u"<Super>Escape"_s } << false;
        QTest::newRow("not named") << true << QStringList { u"Xephyr"_s } << QStringList() << false;
        QTest::newRow("a wildcard") << true << QStringList { u"pelk-*"_s } << QStringList() << true;
        QTest::newRow("denied wins") << true << QStringList { u"*"_s, u"!pelk-agen?"_s } << QStringList() << false;
    }
    void mutterKeepsTheGrabOnlyWithEverySetting()
    {
        QFETCH(bool, allow);
        QFETCH(QStringList, rules);
        QFETCH(QStringList, restore);
        QFETCH(bool, keeps);
        const QStringList windowClass { u"pelk-agent"_s, u"Pelk-agent"_s };
        QCOMPARE(pelk::platform::mutterKeepsGrab(allow, rules, restore, windowClass), keeps);
    }
};

QTEST_GUILESS_MAIN(TestSessionLockdown)
#include "test_session_lockdown.moc"
