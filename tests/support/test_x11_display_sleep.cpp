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

    static bool xset(const QStringList &arguments)
    {
        // xset waits for the server to have handled its request before it exits.
        QProcess xset;
        xset.start(u"xset"_s, arguments);
        return xset.waitForFinished(10000) && xset.exitStatus() == QProcess::NormalExit && xset.exitCode() == 0;
    }

    // A count the watcher must reach, and must not pass in the moments after.
    static bool settlesAt(QSignalSpy &spy, qsizetype expected)
    {
        return QTest::qWaitFor([&] { return spy.count() >= expected; }, 5000)
            && !QTest::qWaitFor([&] { return spy.count() > expected; }, 500);
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
        QVERIFY(xset({ u"s"_s, u"reset"_s }));
    }

    void reportsTheSaverTurningOnOnly_data()
    {
        QTest::addColumn<QList<QStringList>>("commands");
        QTest::addColumn<int>("reports");
        const QStringList on { u"s"_s, u"activate"_s };
        const QStringList off { u"s"_s, u"reset"_s };
        QTest::newRow("saver activates") << QList<QStringList> { on } << 1;
        QTest::newRow("saver deactivates") << QList<QStringList> { on, off } << 1;
        QTest::newRow("saver activates again") << QList<QStringList> { on, off, on } << 2;
        QTest::newRow("reset while off") << QList<QStringList> { off, off } << 0;
    }

    void reportsTheSaverTurningOnOnly()
    {
        QFETCH(QList<QStringList>, commands);
        QFETCH(int, reports);
        X11DisplaySleepWatcher watcher;
        QVERIFY(watcher.isWatching());
        QSignalSpy slept(&watcher, &X11DisplaySleepWatcher::displaysSlept);
        for (const QStringList &command : commands)
            QVERIFY(xset(command));
        QVERIFY(settlesAt(slept, reports));
    }

    void watchesNothingWithoutAnX11Display_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value"); // none: unset
        QTest::newRow("no display") << QByteArrayLiteral("DISPLAY") << QByteArray();
        QTest::newRow("nobody serves it") << QByteArrayLiteral("DISPLAY") << QByteArrayLiteral(":4711");
        // Xwayland's saver says nothing about the real screen.
        QTest::newRow("Wayland session") << QByteArrayLiteral("WAYLAND_DISPLAY") << QByteArrayLiteral("wayland-0");
    }

    void watchesNothingWithoutAnX11Display()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        if (value.isNull())
            qunsetenv(variable.constData());
        else
            qputenv(variable.constData(), value);
        X11DisplaySleepWatcher watcher;
        QVERIFY(!watcher.isWatching());
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
