// The X server's display sleep against a private Xvfb: the screen saver turning on is reported,
// turning off is not; without a usable display nothing is watched.

#include "fakes/PrivateXvfb.h"
#include "platform/linux/X11DisplaySleepWatcher.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;
using pelk::platform::X11DisplaySleepWatcher;

class TestX11DisplaySleep : public QObject {
    Q_OBJECT
private:
    pelk::fakes::PrivateXvfb m_server;

    // "on" or "off"; xset exits once the server has handled its request.
    static bool saver(const QString &state)
    {
        QProcess xset;
        xset.start(u"xset"_s, { u"s"_s, state == u"on" ? u"activate"_s : u"reset"_s });
        return xset.waitForFinished(10000) && xset.exitStatus() == QProcess::NormalExit && xset.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!pelk::fakes::PrivateXvfb::available() || QStandardPaths::findExecutable(u"xset"_s).isEmpty())
            QSKIP("Xvfb and xset are needed (scripts/install-deps.sh)");
        QVERIFY(m_server.start(u"640x480x24"_s));
    }

    void init()
    {
        m_server.useAsSession();
        QVERIFY(saver(u"off"_s));
    }

    void reportsTheSaverTurningOnOnly_data()
    {
        QTest::addColumn<QString>("states");
        QTest::addColumn<int>("reports");
        QTest::newRow("on") << u"on"_s << 1;
        QTest::newRow("on, off") << u"on off"_s << 1;
        QTest::newRow("on, off, on") << u"on off on"_s << 2;
        QTest::newRow("off, off") << u"off off"_s << 0;
    }
    void reportsTheSaverTurningOnOnly()
    {
        QFETCH(QString, states);
        QFETCH(int, reports);
        X11DisplaySleepWatcher watcher;
        QVERIFY(watcher.isWatching());
        QSignalSpy slept(&watcher, &X11DisplaySleepWatcher::displaysSlept);
        for (const QString &state : states.split(u' '))
            QVERIFY(saver(state));
        // The count must be reached, and not passed in the moments after.
        QTRY_VERIFY(slept.count() >= reports);
        QVERIFY(!QTest::qWaitFor([&] { return slept.count() > reports; }, 500));
    }

    void watchesNothingWithoutAnX11Display()
    {
        // No display, one nobody serves, and a Wayland session (Xwayland's saver says nothing of the screen).
        const std::pair<const char *, QByteArray> settings[]
            = { { "DISPLAY", QByteArray() }, { "DISPLAY", ":4711" }, { "WAYLAND_DISPLAY", "wayland-0" } };
        for (const auto &[variable, value] : settings) {
            m_server.useAsSession();
            value.isNull() ? qunsetenv(variable) : qputenv(variable, value);
            QVERIFY2(!X11DisplaySleepWatcher().isWatching(), variable);
        }
    }

    // Last: it takes the server down for good.
    void stopsWatchingWhenTheServerGoesAway()
    {
        X11DisplaySleepWatcher watcher;
        QVERIFY(watcher.isWatching());
        QVERIFY(m_server.stop());
        QTRY_VERIFY(!watcher.isWatching());
    }
};

QTEST_GUILESS_MAIN(TestX11DisplaySleep)
#include "test_x11_display_sleep.moc"
