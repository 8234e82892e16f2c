// Drives the real pelk-agent on an Xvfb display with a window manager (see run-under-xvfb.sh):
// the agent simulator writes the lock state file and answers the local API on 127.0.0.1.
#include "AgentSimulator.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <utility>

using namespace Qt::StringLiterals;
using pelk::agentsim::AgentSimulator;
using pelk::agentsim::Endpoint;

namespace {

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QStringList lockWindows()
{
    const QString out = run(u"xdotool"_s, { u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Pelk Agent$"_s });
    return out.isEmpty() ? QStringList() : out.split(u'\n');
}

QByteArray procFile(qint64 pid, const QString &name)
{
    QFile file(u"/proc/%1/%2"_s.arg(pid).arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// Whether a grab reply says this client got the device; frees the reply.
template <typename Reply> bool granted(Reply *reply)
{
    const bool ok = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    return ok;
}

} // namespace

class TestLockE2E : public QObject {
    Q_OBJECT

    QString m_shots;
    xcb_connection_t *m_x = nullptr;
    xcb_screen_t *m_screen = nullptr;
    std::unique_ptr<AgentSimulator> m_sim;
    std::unique_ptr<QProcess> m_agent;
    // What the X server last said of each window of ours: covered in full or not.
    std::map<uint32_t, bool> m_hidden;
    bool m_input = false, m_uncovered = false;

    // Up in this mode over the given number of monitors, the screens covered.
    void startAgent(const QString &mode, qsizetype monitors)
    {
        QVERIFY(m_sim->lock(u"cmd-e2e"_s, u"Call the IT desk on ext. 4242"_s));
        m_agent = std::make_unique<QProcess>();
        m_agent->setProcessChannelMode(QProcess::ForwardedChannels);
        m_agent->start(qEnvironmentVariable("PELK_AGENT_BINARY"), { mode });
        QVERIFY(m_agent->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(lockWindows().size(), monitors, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(magentaShown(u"locked"_s), 0, 20000);
    }
    // The termination signals and the others desktop tools send: none ends the agent or touches
    // the lock, which keeps reporting once it holds the input.
    void holdsThroughSignals()
    {
        QTRY_VERIFY_WITH_TIMEOUT(inputIsHeld(), 20000);
        const QStringList windows = lockWindows();
        const qint64 app = ui();
        QVERIFY(app > 0); // never 0: that would signal this test's own process group
        for (const int sig : { SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGQUIT, SIGALRM, SIGPIPE, SIGRTMIN }) {
            ::kill(pid_t(m_agent->processId()), sig);
            ::kill(pid_t(app), sig);
        }
        waitForPresence(2);
        QCOMPARE(m_agent->state(), QProcess::Running);
        QCOMPARE(ui(), app);
        QCOMPARE(lockWindows(), windows);
    }
    // The application the started process (its guard) runs as its only child.
    qint64 ui() const
    {
        return procFile(m_agent->processId(), u"task/%1/children"_s.arg(m_agent->processId()))
            .split(' ')[0]
            .toLongLong();
    }
    // Pixels of other clients' windows (magenta) on a screenshot of the whole display, which is kept
    // for people to look at.
    int magentaShown(const QString &name)
    {
        const QString path = m_shots + u'/' + name + u".png"_s;
        run(u"import"_s, { u"-window"_s, u"root"_s, path });
        const QImage image = QImage(path).convertToFormat(QImage::Format_RGB32);
        const auto *pixels = reinterpret_cast<const QRgb *>(image.constBits());
        return int(std::count(pixels, pixels + image.width() * image.height(), qRgb(255, 0, 255)));
    }
    // A magenta window of another client, listening for input.
    uint32_t makeWindow(bool overrideRedirect, int x, int y, int w, int h)
    {
        const uint32_t id = xcb_generate_id(m_x);
        const uint32_t values[] = { 0xff00ff, overrideRedirect ? 1u : 0u,
            XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_VISIBILITY_CHANGE };
        xcb_create_window(m_x, XCB_COPY_FROM_PARENT, id, m_screen->root, int16_t(x), int16_t(y), uint16_t(w),
            uint16_t(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(m_x, id);
        xcb_flush(m_x);
        return id;
    }
    // Reads what the server told this client: input reaching its windows, and their visibility.
    void pump()
    {
        while (xcb_generic_event_t *e = xcb_poll_for_event(m_x)) {
            const uint8_t type = e->response_type & 0x7f;
            m_input |= type == XCB_KEY_PRESS || type == XCB_BUTTON_PRESS;
            if (const auto *v = reinterpret_cast<xcb_visibility_notify_event_t *>(e); type == XCB_VISIBILITY_NOTIFY) {
                m_hidden[v->window] = v->state == XCB_VISIBILITY_FULLY_OBSCURED;
                m_uncovered |= !m_hidden[v->window];
            }
            std::free(e);
        }
    }
    // Whether any key or button press reached one of this client's windows since the last call.
    bool gotInput() { return pump(), std::exchange(m_input, false); }
    // Whether every window of this client is out of sight, once the server has done what was asked.
    bool covered()
    {
        std::free(xcb_get_input_focus_reply(m_x, xcb_get_input_focus(m_x), nullptr));
        pump();
        return std::ranges::all_of(m_hidden, [](const auto &w) { return w.second; });
    }
    // An attack repeated five times, each time covered again and the input held again. (How
    // fast the lock answers is bench/lock_bench's to measure, not a test's.)
    void beatenFiveTimes(const char *what, const std::function<void()> &attack)
    {
        for (int round = 0; round < 5; ++round) {
            attack();
            QTRY_VERIFY2_WITH_TIMEOUT(covered(), what, 20000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(inputIsHeld(), 20000);
    }
    void forget(uint32_t window) { xcb_destroy_window(m_x, window), m_hidden.erase(window); }
    bool grabKeyboard()
    {
        return granted(xcb_grab_keyboard_reply(m_x,
            xcb_grab_keyboard(m_x, 0, m_screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr));
    }
    // How many of keyboard and pointer this test client could take (given back at once).
    int inputFree()
    {
        const int free = grabKeyboard()
            + granted(xcb_grab_pointer_reply(m_x,
                xcb_grab_pointer(m_x, 0, m_screen->root, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                    XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                nullptr));
        xcb_ungrab_keyboard(m_x, XCB_CURRENT_TIME);
        xcb_ungrab_pointer(m_x, XCB_CURRENT_TIME);
        xcb_flush(m_x);
        return free;
    }
    bool inputIsFree() { return inputFree() == 2; }
    bool inputIsHeld() { return inputFree() == 0; }
    void waitForPresence(int more)
    {
        const qsizetype target = m_sim->requestsTo(Endpoint::Presence).size() + more;
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->requestsTo(Endpoint::Presence).size() >= target, 20000);
    }

    // Once unlocked: the windows go, the input is free, nothing typed while locked reached another
    // window, and the agent still ends cleanly when asked.
    void expectUnlockedAndCleanExit()
    {
        QTRY_VERIFY_WITH_TIMEOUT(lockWindows().isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(inputIsFree(), 20000);
        QVERIFY2(!gotInput(), "input typed while locked reached another window");
        const qint64 app = ui();
        QVERIFY(app > 0);
        m_agent->terminate();
        QVERIFY(m_agent->waitForFinished(10000));
        QCOMPARE(m_agent->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_agent->exitCode(), 0);
        QVERIFY2(::kill(pid_t(app), 0) != 0, "the application outlived its guard");
    }

private Q_SLOTS:
    // One simulator and one full-screen window of another client for both runs; the agent is
    // killed with the test if still running.
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("PELK_E2E_AGENT_DIR"), "run me through run-under-xvfb.sh");
        m_shots = qEnvironmentVariable("PELK_E2E_SHOTS", QDir::currentPath() + u"/lock-screenshots"_s);
        QDir().mkpath(m_shots);
        m_x = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(m_x));
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;
        m_sim = std::make_unique<AgentSimulator>(qEnvironmentVariable("PELK_E2E_AGENT_DIR"));
        m_sim->setSession(u"sess-e2e"_s);
        m_sim->setPin(u"246810"_s);
        QVERIFY(m_sim->listen());
        makeWindow(false, 0, 0, m_screen->width_in_pixels, m_screen->height_in_pixels);
        QVERIFY(inputIsFree());
    }
    void cleanupTestCase() { xcb_disconnect(m_x); }
    // After a failure: the application outlives its guard, and would stay over the next test.
    void cleanup()
    {
        if (m_agent && m_agent->state() == QProcess::Running) {
            if (const qint64 app = ui(); app > 0)
                ::kill(pid_t(app), SIGKILL);
            m_agent->kill();
            m_agent->waitForFinished();
        }
    }
    // The tray's mode, locking while another client (an open menu, say) holds the keyboard:
    // nothing gets past the lock until the PIN is typed on it.
    void trayLockHoldsUntilThePin()
    {
        QVERIFY(grabKeyboard());
        startAgent(u"--background"_s, 1); // the lock covers the screen while it waits for the grab
        QCOMPARE(m_sim->requestsTo(Endpoint::Presence).size(), 0); // but says nothing before it holds it
        xcb_ungrab_keyboard(m_x, XCB_CURRENT_TIME);
        xcb_flush(m_x);
        holdsThroughSignals();

        // Other clients fight it: one unmaps the lock window, one raises a pop-up over it, and
        // the screen shrinks (the lock follows) and grows again (RandR) under a window where it grows.
        const uint32_t lock = lockWindows().constFirst().toUInt();
        beatenFiveTimes("unmapped", [&] { xcb_unmap_window(m_x, lock); });
        const uint32_t popup = makeWindow(true, 20, 20, 300, 80);
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        beatenFiveTimes("pop-up", [&] { xcb_configure_window(m_x, popup, XCB_CONFIG_WINDOW_STACK_MODE, &above); });
        const uint32_t grown = makeWindow(true, 1024, 0, 256, 800);
        beatenFiveTimes("screen grown", [&] {
            run(u"xrandr"_s, { u"--output"_s, u"screen"_s, u"--off"_s, u"--fb"_s, u"1024x768"_s });
            const QStringList geometry { u"getwindowgeometry"_s, QString::number(lock) };
            QTRY_VERIFY_WITH_TIMEOUT(run(u"xdotool"_s, geometry).endsWith(u"1024x768"_s), 20000); // it followed
            run(u"xrandr"_s, { u"--fb"_s, u"1280x800"_s, u"--output"_s, u"screen"_s, u"--auto"_s });
        });
        forget(grown);

        // Escape attempts: none may reach another window or close the lock.
        const QStringList windows = lockWindows();
        for (const QString &keys : { u"Escape"_s, u"alt+Tab"_s, u"alt+F4"_s, u"ctrl+alt+BackSpace"_s, u"super"_s,
                 u"ctrl+Escape"_s, u"alt+F2"_s, u"ctrl+w"_s, u"ctrl+q"_s })
            run(u"xdotool"_s, { u"key"_s, keys });
        run(u"xdotool"_s, { u"mousemove"_s, u"5"_s, u"5"_s, u"click"_s, u"1"_s });
        run(u"xdotool"_s, { u"mousemove"_s, u"30"_s, u"30"_s, u"click"_s, u"3"_s });
        waitForPresence(2);
        QCOMPARE(lockWindows(), windows);
        QCOMPARE(magentaShown(u"after-escape-attempts"_s), 0);

        // A new message rebuilds the windows, with keys typed all along: at no moment does the
        // desktop show or a key reach it, and the new windows hold the input.
        QVERIFY(covered() && !gotInput());
        m_uncovered = false;
        QProcess typing;
        typing.start(u"xdotool"_s, { u"key"_s, u"--delay"_s, u"10"_s, u"--repeat"_s, u"150"_s, u"a"_s });
        QVERIFY(m_sim->lock(u"cmd-e2e"_s, u"Bring the laptop to room 4.12\nThe IT desk"_s));
        QTRY_VERIFY_WITH_TIMEOUT(lockWindows() != windows && !lockWindows().isEmpty(), 20000);
        QVERIFY(typing.waitForFinished(20000));
        QVERIFY2(covered() && !m_uncovered, "the desktop showed while the windows were rebuilt");
        QVERIFY2(!gotInput(), "keys reached the desktop while the windows were rebuilt");
        QTRY_VERIFY_WITH_TIMEOUT(inputIsHeld(), 20000);
        forget(popup);

        run(u"xdotool"_s, { u"type"_s, u"--delay"_s, u"50"_s, u"246810"_s });
        run(u"xdotool"_s, { u"key"_s, u"Return"_s });
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->requestsTo(Endpoint::Unlock).isEmpty(), 20000);
        QCOMPARE(m_sim->requestsTo(Endpoint::Unlock).constLast().body, (QJsonObject { { u"pin"_s, u"246810"_s } }));
        expectUnlockedAndCleanExit();
    }

    // Whatever kills the application that draws the lock, its guard (which the kernel spares
    // rather than it when memory runs out) brings the lock back, holding the input again.
    void crashedLockComesBack()
    {
        startAgent(u"--background"_s, 1);
        QTRY_VERIFY_WITH_TIMEOUT(inputIsHeld(), 20000);
        const auto oomScore = [](qint64 pid) { return procFile(pid, u"oom_score_adj"_s).toInt(); };
        QCOMPARE_LT(oomScore(m_agent->processId()), oomScore(ui()));
        for (const int sig : { SIGKILL, SIGSEGV, SIGABRT }) {
            const qint64 killed = ui();
            QVERIFY(killed > 0);
            ::kill(pid_t(killed), sig);
            // Reported by a new application, with its window over the screen and the input held.
            QTRY_VERIFY_WITH_TIMEOUT(ui() != killed, 20000);
            waitForPresence(1);
            QTRY_VERIFY_WITH_TIMEOUT(lockWindows().size() == 1 && inputIsHeld(), 20000);
            QCOMPARE(magentaShown(u"after-signal-%1"_s.arg(sig)), 0);
        }
        QVERIFY(m_sim->unlock());
        // Nothing of the guard's stays over the desktop. A deadline: QTRY counts tries, and a shot is slow.
        for (const QDeadlineTimer deadline(20000); magentaShown(u"unlocked-after-crashes"_s) == 0; QTest::qWait(100))
            QVERIFY2(!deadline.hasExpired(), "the guard's windows stayed over the desktop");
        expectUnlockedAndCleanExit();
    }

    // Last: it changes the display's monitors; RandR monitors stand in for real displays. Above
    // the login window, every monitor is covered as they change, until the agent unlocks.
    void loginWindowLockCoversEveryMonitorUntilUnlocked()
    {
        auto xrandr = [](const QStringList &args) { run(u"xrandr"_s, args); };
        xrandr({ u"--setmonitor"_s, u"left"_s, u"640/169x800/211+0+0"_s, u"none"_s });
        xrandr({ u"--setmonitor"_s, u"right"_s, u"640/169x800/211+640+0"_s, u"none"_s });
        // Xvfb keeps its whole-screen monitor next to the ones set here; it gets a window too.
        startAgent(u"--login-window"_s, 3);
        holdsThroughSignals();

        // A third display appears: it gets its own lock window.
        xrandr({ u"--delmonitor"_s, u"right"_s });
        xrandr({ u"--setmonitor"_s, u"top-right"_s, u"640/169x400/106+640+0"_s, u"none"_s });
        xrandr({ u"--setmonitor"_s, u"bottom-right"_s, u"640/169x400/106+640+400"_s, u"none"_s });
        waitForPresence(2); // the new windows come before the old ones go: count once they went
        QCOMPARE(lockWindows().size(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(magentaShown(u"three-monitors"_s), 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(inputIsHeld(), 20000);

        QVERIFY(m_sim->unlock());
        expectUnlockedAndCleanExit();
    }
};

QTEST_GUILESS_MAIN(TestLockE2E)
#include "test_lock_e2e.moc"
