// A Wayland session is held by its own lock screen: the lockdown keeps the session locked
// through a mock logind and never reports holding while it is not. The session's kind comes
// from the session itself, and Mutter's settings decide whether the PIN pad's grab can hold.

#include "fakes/MockSystemBus.h"
#include "platform/linux/LogindConsoleSession.h"
#include "platform/linux/LogindSessionLockdown.h"
#include "platform/linux/MutterGrabSettings.h"
#include "platform/linux/WaylandSession.h"

#include <QTest>

using namespace Qt::StringLiterals;
using pelk::fakes::MockLogind;
using pelk::platform::LogindConsoleSession;
using pelk::platform::LogindSessionLockdown;
using pelk::platform::SessionKind;

class TestSessionLockdown : public QObject {
    Q_OBJECT
private:
    MockLogind m_logind;

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
        QTRY_VERIFY(m_logind.lockCalls(u"w1"_s) >= 1);
        QVERIFY(!held->limitation().isEmpty());

        // The desktop's lock screen came up: now the device is held.
        m_logind.call(
            MockLogind::sessionPath(u"w1"_s), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { true });
        QTRY_VERIFY(held->force(0));

        // Unlocked behind the lock's back: not held, and locked again.
        const int before = m_logind.lockCalls(u"w1"_s);
        m_logind.call(
            MockLogind::sessionPath(u"w1"_s), u"org.freedesktop.login1.Session"_s, u"SetLockedHint"_s, { false });
        QTRY_VERIFY(!held->force(0) && m_logind.lockCalls(u"w1"_s) > before);
    }

    void anUnknownSessionIsNeverHeld()
    {
        auto held = lockdown(u"nosuch"_s);
        QVERIFY(!QTest::qWaitFor([&] { return held->force(0); }, 1500));
        QVERIFY(pelk::platform::logindSessionType(m_logind.bus(), u"nosuch"_s).isEmpty());
    }

    void theSessionSaysWhatKindItIs()
    {
        // logind's type when it knows, else either variable saying Wayland.
        const struct {
            QString logind, xdg, display;
            bool wayland;
        } cases[] = { { u"wayland"_s, u"x11"_s, {}, true }, { u"x11"_s, u"wayland"_s, u"wayland-1"_s, false },
            { u"tty"_s, u"Wayland"_s, {}, true }, { {}, u"x11"_s, u"wayland-0"_s, true },
            { {}, {}, u"wayland-0"_s, true }, { {}, {}, {}, false } };
        for (const auto &c : cases)
            QCOMPARE(pelk::platform::sessionKind(c.logind, c.xdg, c.display) == SessionKind::Wayland, c.wayland);
    }

    void logindTellsTheSessionType()
    {
        m_logind.call(MockLogind::sessionPath(u"w1"_s), u"org.freedesktop.DBus.Mock"_s, u"UpdateProperties"_s,
            { u"org.freedesktop.login1.Session"_s, QVariantMap { { u"Type"_s, u"wayland"_s } } });
        QCOMPARE(pelk::platform::logindSessionType(m_logind.bus(), u"w1"_s), u"wayland"_s);
    }

    void mutterKeepsTheGrabOnlyWithEverySetting()
    {
        const QStringList app { u"pelk-agent"_s }, none, windowClass { u"pelk-agent"_s, u"Pelk-agent"_s };
        const struct {
            bool allow;
            QStringList rules, restoreShortcuts;
            bool keeps;
        } cases[] = { { true, app, none, true }, { false, app, none, false },
            { true, app, { u"<Super>Escape"_s }, false }, { true, { u"Xephyr"_s }, none, false },
            { true, { u"pelk-*"_s }, none, true }, { true, { u"*"_s, u"!pelk-agen?"_s }, none, false } };
        for (const auto &c : cases)
            QCOMPARE(pelk::platform::mutterKeepsGrab(c.allow, c.rules, c.restoreShortcuts, windowClass), c.keeps);
    }
};

QTEST_GUILESS_MAIN(TestSessionLockdown)
#include "test_session_lockdown.moc"
