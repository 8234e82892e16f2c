// Drives the real pelk-agent on an Xvfb display with a window manager (see run-under-xvfb.sh):
// the agent simulator writes the lock state file and answers the local API on 127.0.0.1.
#include "AgentSimulator.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>

using namespace Qt::StringLiterals;
using pelk::agentsim::AgentFileKind;
using pelk::agentsim::AgentSimulator;
using pelk::agentsim::Endpoint;

namespace {

const QRgb kLockBackground = qRgb(18, 23, 33);
const uint32_t kMagenta = 0xff00ff;

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

} // namespace

class TestLockE2E : public QObject {
    Q_OBJECT

    QString m_shots;
    xcb_connection_t *m_x = nullptr;
    xcb_screen_t *m_screen = nullptr;
    std::unique_ptr<AgentSimulator> m_sim;
    std::unique_ptr<QProcess> m_agent;
    QList<uint32_t> m_victimEvents;

    void writeLocked(const QString &message = u"Call the IT desk on ext. 4242"_s)
    {
        QVERIFY(m_sim->lock(u"cmd-e2e"_s, message));
    }
    QJsonObject lastBody(Endpoint endpoint) const
    {
        return m_sim->requestsTo(endpoint).constLast().body.value_or(QJsonObject());
    }
    // The normal mode starts in the background: its setup window has the lock windows' title.
    void startAgent(const QStringList &args = { u"--background"_s })
    {
        m_agent = std::make_unique<QProcess>();
        m_agent->setProcessChannelMode(QProcess::ForwardedChannels);
        m_agent->start(qEnvironmentVariable("PELK_AGENT_BINARY"), args);
        QVERIFY(m_agent->waitForStarted());
    }
    QImage shot(const QString &name)
    {
        const QString path = m_shots + u'/' + name + u".png"_s;
        run(u"import"_s, { u"-window"_s, u"root"_s, path });
        return QImage(path);
    }
    static int countPixels(const QImage &image, const std::function<bool(QRgb)> &matches)
    {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                n += matches(image.pixel(x, y));
        }
        return n;
    }
    static int countColour(const QImage &image, QRgb colour)
    {
        return countPixels(image, [colour](QRgb p) { return (p & 0xffffff) == (colour & 0xffffff); });
    }
    // A window of another client: magenta, covering the screen, listening for input.
    uint32_t makeWindow(bool overrideRedirect, int x, int y, int w, int h)
    {
        const uint32_t id = xcb_generate_id(m_x);
        const uint32_t values[]
            = { kMagenta, overrideRedirect ? 1u : 0u, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS };
        xcb_create_window(m_x, XCB_COPY_FROM_PARENT, id, m_screen->root, int16_t(x), int16_t(y), uint16_t(w),
            uint16_t(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual,
            XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(m_x, id);
        xcb_flush(m_x);
        return id;
    }
    void drainVictimEvents()
    {
        while (xcb_generic_event_t *e = xcb_poll_for_event(m_x)) {
            const uint8_t type = e->response_type & 0x7f;
            if (type == XCB_KEY_PRESS || type == XCB_BUTTON_PRESS)
                m_victimEvents.append(type);
            std::free(e);
        }
    }
    // Whether this test client could take the keyboard or the pointer (and gives it back at once).
    bool keyboardIsFree() { return grabbable(true); }
    bool pointerIsFree() { return grabbable(false); }
    bool grabbable(bool keyboard)
    {
        uint8_t status = 0xff;
        if (keyboard) {
            auto *reply = xcb_grab_keyboard_reply(m_x,
                xcb_grab_keyboard(m_x, 0, m_screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                nullptr);
            status = reply ? reply->status : status;
            std::free(reply);
        } else {
            auto *reply = xcb_grab_pointer_reply(m_x,
                xcb_grab_pointer(m_x, 0, m_screen->root, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_ASYNC,
                    XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                nullptr);
            status = reply ? reply->status : status;
            std::free(reply);
        }
        const bool free = status == XCB_GRAB_STATUS_SUCCESS;
        if (free && keyboard)
            xcb_ungrab_keyboard(m_x, XCB_CURRENT_TIME);
        if (free && !keyboard)
            xcb_ungrab_pointer(m_x, XCB_CURRENT_TIME);
        xcb_flush(m_x);
        return free;
    }
    void waitForPresence(int more)
    {
        const qsizetype target = m_sim->requestsTo(Endpoint::Presence).size() + more;
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->requestsTo(Endpoint::Presence).size() >= target, 20000);
    }
    void xdotool(const QStringList &args) { run(u"xdotool"_s, args); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("PELK_E2E_AGENT_DIR"), "run me through run-under-xvfb.sh");
        m_shots = qEnvironmentVariable("PELK_E2E_SHOTS", QDir::currentPath() + u"/lock-screenshots"_s);
        QDir().mkpath(m_shots);
        m_x = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(m_x));
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;
    }
    void init()
    {
        m_sim = std::make_unique<AgentSimulator>(qEnvironmentVariable("PELK_E2E_AGENT_DIR"));
        m_sim->removeFile(AgentFileKind::Lock);
        m_sim->setSession(u"sess-e2e"_s);
        m_sim->setPin(u"246810"_s);
        QVERIFY(m_sim->listen());
        m_victimEvents.clear();
    }
    void cleanup()
    {
        if (m_agent && m_agent->state() != QProcess::NotRunning) {
            m_agent->kill();
            m_agent->waitForFinished();
        }
        m_agent.reset();
        m_sim.reset();
    }
    void cleanupTestCase() { xcb_disconnect(m_x); }

    void lockHoldsUntilTheAgentUnlocks()
    {
        const uint32_t victim = makeWindow(false, 0, 0, m_screen->width_in_pixels, m_screen->height_in_pixels);
        startAgent();
        QTest::qWait(1500); // idle and unlocked: nothing is shown
        QVERIFY(lockWindows().isEmpty());
        QVERIFY(keyboardIsFree());

        writeLocked();
        QTRY_VERIFY_WITH_TIMEOUT(!lockWindows().isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!keyboardIsFree() && !pointerIsFree(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(countColour(shot(u"empty"_s), kMagenta), 0, 20000);
        QCOMPARE(shot(u"empty"_s).pixel(2, 2) & 0xffffff, kLockBackground & 0xffffff);

        // A popup that maps itself above everything afterwards is covered again within a tick.
        const uint32_t popup = makeWindow(true, 20, 20, 300, 80);
        QTRY_COMPARE_WITH_TIMEOUT(countColour(shot(u"after-popup"_s), kMagenta), 0, 20000);

        // Presence about once a second, with the command and the session.
        waitForPresence(3);
        QCOMPARE(lastBody(Endpoint::Presence), (QJsonObject { { u"command_uuid"_s, u"cmd-e2e"_s } }));
        QCOMPARE(m_sim->requestsTo(Endpoint::Presence).constLast().status, 200); // the session was right

        // Escape attempts: none may reach another window or close the lock.
        const QStringList windowsBefore = lockWindows();
        for (const QString &keys : { u"Escape"_s, u"alt+Tab"_s, u"alt+F4"_s, u"ctrl+alt+BackSpace"_s, u"super"_s,
                 u"ctrl+Escape"_s, u"alt+F2"_s, u"ctrl+w"_s, u"ctrl+q"_s })
            xdotool({ u"key"_s, keys });
        xdotool({ u"mousemove"_s, u"5"_s, u"5"_s, u"click"_s, u"1"_s });
        xdotool({ u"mousemove"_s, u"30"_s, u"30"_s, u"click"_s, u"3"_s });
        waitForPresence(2);
        QCOMPARE(lockWindows(), windowsBefore);
        QCOMPARE(countColour(shot(u"after-escape-attempts"_s), kMagenta), 0);

        // Termination is refused while locked.
        for (const int sig : { SIGTERM, SIGINT, SIGHUP })
            ::kill(pid_t(m_agent->processId()), sig);
        waitForPresence(2);
        QCOMPARE(m_agent->state(), QProcess::Running);
        QCOMPARE(lockWindows(), windowsBefore);

        // Fail-closed: missing, garbled or incomplete files leave the lock as it is.
        for (const QByteArray &bad : { QByteArray(), QByteArray("{\"locked\": fal"), QByteArray("{\"locked\": false}"),
                 QByteArray("{\"locked\": false, \"command_uuid\": 5}") }) {
            if (bad.isEmpty())
                m_sim->removeFile(AgentFileKind::Lock);
            else
                m_sim->writeRaw(AgentFileKind::Lock, bad);
            QTest::qWait(2500); // two readings (no presence: nothing decodable was read)
            QCOMPARE(lockWindows(), windowsBefore);
            QVERIFY(!keyboardIsFree());
        }

        // A new message rebuilds the windows.
        writeLocked(u"Bring the laptop to room 4.12\nThe IT desk"_s);
        QTRY_VERIFY_WITH_TIMEOUT(lockWindows() != windowsBefore && !lockWindows().isEmpty(), 20000);
        qInfo() << "windows before" << windowsBefore << "after" << lockWindows();
        QTRY_VERIFY_WITH_TIMEOUT(!keyboardIsFree(), 20000);

        // Wrong PIN: 7 digits, busy while the agent thinks, then the rejection.
        xdotool({ u"type"_s, u"--delay"_s, u"50"_s, u"1234567"_s });
        QTest::qWait(500);
        shot(u"seven-digits"_s);
        pelk::agentsim::AnswerOverride slow;
        slow.delayMs = 1500;
        slow.times = 1;
        m_sim->setOverride(Endpoint::Unlock, slow);
        xdotool({ u"key"_s, u"Return"_s });
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->requestsTo(Endpoint::Unlock).isEmpty(), 20000);
        QCOMPARE(lastBody(Endpoint::Unlock), (QJsonObject { { u"pin"_s, u"1234567"_s } }));
        QCOMPARE(m_sim->requestsTo(Endpoint::Unlock).constLast().status, 401); // the session was right, the PIN not
        QTest::qWait(300);
        shot(u"busy"_s);
        QTest::qWait(2000); // the answer came and the shake has settled
        // The orange rejection line is there.
        QVERIFY(countPixels(shot(u"rejected"_s), [](QRgb p) {
            return qRed(p) > 200 && qGreen(p) > 110 && qGreen(p) < 170 && qBlue(p) < 60;
        }) > 20);
        QVERIFY(!lockWindows().isEmpty());

        // The right PIN: the agent rewrites the file, the lock goes and gives everything back.
        xdotool({ u"type"_s, u"--delay"_s, u"50"_s, u"246810"_s });
        xdotool({ u"key"_s, u"Return"_s });
        QTRY_VERIFY_WITH_TIMEOUT(lockWindows().isEmpty(), 20000);
        QCOMPARE(lastBody(Endpoint::Unlock), (QJsonObject { { u"pin"_s, u"246810"_s } }));
        QTRY_VERIFY_WITH_TIMEOUT(keyboardIsFree() && pointerIsFree(), 20000);
        QTest::qWait(500);
        drainVictimEvents();
        QVERIFY2(m_victimEvents.isEmpty(), "input typed while locked reached another window");

        // Unlocked: termination goes through at once.
        m_agent->terminate();
        QVERIFY(m_agent->waitForFinished(10000));
        QCOMPARE(m_agent->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_agent->exitCode(), 0);
        xcb_destroy_window(m_x, popup);
        xcb_destroy_window(m_x, victim);
        xcb_flush(m_x);
    }

    void grabHeldElsewhereIsTakenOnceFree()
    {
        // Another client (an open menu, say) holds the keyboard when the lock comes.
        auto *reply = xcb_grab_keyboard_reply(m_x,
            xcb_grab_keyboard(m_x, 0, m_screen->root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        QVERIFY(reply && reply->status == XCB_GRAB_STATUS_SUCCESS);
        std::free(reply);
        writeLocked();
        startAgent();
        QTRY_VERIFY_WITH_TIMEOUT(!lockWindows().isEmpty(), 20000);
        waitForPresence(2);
        QVERIFY(!lockWindows().isEmpty()); // the lock stays up while it waits for the grab
        xcb_ungrab_keyboard(m_x, XCB_CURRENT_TIME);
        xcb_flush(m_x);
        QTRY_VERIFY_WITH_TIMEOUT(!keyboardIsFree(), 20000);
    }

    void loginWindowModeRunsOnlyTheLock()
    {
        QVERIFY(m_sim->setLock(false, u"c0"_s));
        startAgent({ u"--login-window"_s });
        QTest::qWait(1500);
        QVERIFY(lockWindows().isEmpty());
        writeLocked();
        QTRY_VERIFY_WITH_TIMEOUT(!lockWindows().isEmpty(), 20000);
        ::kill(pid_t(m_agent->processId()), SIGTERM);
        waitForPresence(2);
        QCOMPARE(m_agent->state(), QProcess::Running);
        QVERIFY(m_sim->unlock());
        QTRY_VERIFY_WITH_TIMEOUT(lockWindows().isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(keyboardIsFree(), 20000);
        m_agent->terminate();
        QVERIFY(m_agent->waitForFinished(10000));
        QCOMPARE(m_agent->exitCode(), 0);
    }

    // Last: it changes the display's monitors. RandR monitors stand in for real displays.
    void everyMonitorIsCoveredAsTheyChange()
    {
        auto xrandr = [](const QStringList &args) { run(u"xrandr"_s, args); };
        xrandr({ u"--setmonitor"_s, u"left"_s, u"640/169x800/211+0+0"_s, u"none"_s });
        xrandr({ u"--setmonitor"_s, u"right"_s, u"640/169x800/211+640+0"_s, u"none"_s });
        // Xvfb keeps its whole-screen monitor next to the ones set here; it gets a window too.
        auto monitors
            = [] { return run(u"xrandr"_s, { u"--listmonitors"_s }).section(u'\n', 0, 0).section(u' ', 1).toInt(); };
        QCOMPARE(monitors(), 3);
        const uint32_t victim = makeWindow(false, 0, 0, m_screen->width_in_pixels, m_screen->height_in_pixels);
        writeLocked();
        startAgent();
        QTRY_COMPARE_WITH_TIMEOUT(lockWindows().size(), 3, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(countColour(shot(u"two-monitors"_s), kMagenta), 0, 20000);

        // A third display appears: it gets its own lock window within about a tick.
        xrandr({ u"--delmonitor"_s, u"right"_s });
        xrandr({ u"--setmonitor"_s, u"top-right"_s, u"640/169x400/106+640+0"_s, u"none"_s });
        xrandr({ u"--setmonitor"_s, u"bottom-right"_s, u"640/169x400/106+640+400"_s, u"none"_s });
        QCOMPARE(monitors(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(lockWindows().size(), 4, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(countColour(shot(u"three-monitors"_s), kMagenta), 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!keyboardIsFree(), 20000);
        xcb_destroy_window(m_x, victim);
        xcb_flush(m_x);
    }
};

QTEST_GUILESS_MAIN(TestLockE2E)
#include "test_lock_e2e.moc"
