// A Wayland session is held by its own lock screen: the lockdown keeps the session locked
// through a mock logind and never reports holding while it is not. The session's kind comes
// from the session itself, and Mutter's settings decide whether the PIN pad's grab can hold.

#include "fakes/MockSystemBus.h"
#include "platform/linux/CompositorLockdown.h"
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
using State = pelk::platform::CompositorLock::State;

namespace {
// The compositor's lock as the lockdown sees it: each ask moves it to `answer`.
class FakeCompositorLock : public pelk::platform::CompositorLock {
public:
    State answer = State::Locking, current = State::Unlocked;
    int asked = 0;
    QList<QRect> outputs() const override { return { QRect(0, 0, 800, 600) }; }
    void lock() override
    {
        ++asked;
        current = answer;
    }
    void unlock() override { current = State::Unlocked; }
    State state() const override { return current; }
    QSize pictureSize(int) const override { return {}; }
    int pictureScale(int) const override { return 1; }
    void present(int, const QImage &) override { }
};

// logind's lockdown as the fallback: holds when told to, counting the times it was needed.
class FallbackLockdown : public pelk::platform::DesktopLockdown {
public:
    bool holds = false;
    int *needed;
    explicit FallbackLockdown(int *counter) : needed(counter) { }
    void saveState() override { }
    bool force(quintptr) override { return ++*needed, holds; }
    void restore() override { }
};
} // namespace

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

    // Held only once the compositor confirms; the desktop's own lock holds while it does not.
    void compositorLockFallsBackToLogind()
    {
        int fallbacks = 0;
        auto owned = std::make_unique<FakeCompositorLock>();
        FakeCompositorLock &compositor = *owned;
        pelk::platform::CompositorLockdown lockdown(std::move(owned), std::make_unique<FallbackLockdown>(&fallbacks));

        // Asked at once, then a moment to confirm before logind is needed.
        QVERIFY(!lockdown.force(0));
        QCOMPARE(compositor.asked, 1);
        QCOMPARE(fallbacks, 0);
        QTRY_VERIFY(!lockdown.force(0) && fallbacks > 0);
        compositor.current = State::Locked;
        fallbacks = 0;
        QVERIFY(lockdown.force(0) && fallbacks == 0 && lockdown.limitation().isEmpty());

        // Refused: logind's word counts, the compositor is asked again, though not on every call.
        compositor.current = State::Refused;
        compositor.answer = State::Refused;
        QVERIFY(!lockdown.force(0));
        QVERIFY(!lockdown.limitation().isEmpty());
        const int asked = compositor.asked;
        QVERIFY(!lockdown.force(0) && !lockdown.force(0) && compositor.asked <= asked + 1);
        QTRY_VERIFY(!lockdown.force(0) && compositor.asked >= asked + 2);

        compositor.answer = State::Locked;
        QTRY_VERIFY(lockdown.force(0));
        lockdown.restore();
        QCOMPARE(compositor.state(), State::Unlocked);
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
