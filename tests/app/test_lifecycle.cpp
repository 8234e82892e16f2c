// How the process starts (its launch mode) and how requests to end it are handled.

#include "app/ApplicationDelegate.h"
#include "app/LaunchMode.h"
#include "app/TerminationRequests.h"
#include "platform/linux/UnixTerminationSignals.h"

#include <QGuiApplication>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace pelk::app;
using namespace Qt::StringLiterals;

namespace {

class FakeDelegate : public ApplicationDelegate {
public:
    bool locked = true;
    int asked = 0;
    int willTerminate = 0;
    void applicationDidFinishLaunching() override { }
    bool applicationShouldTerminate() override
    {
        ++asked;
        return !locked;
    }
    void applicationWillTerminate() override { ++willTerminate; }
};

} // namespace

class TestLifecycle : public QObject {
    Q_OBJECT

    // Runs a nested event loop the way the application runs its own, until it is exited
    // or the request under test has clearly been handled (the delegate was asked).
    static bool runsUntilEnded(FakeDelegate &delegate, const std::function<void()> &request)
    {
        const int askedBefore = delegate.asked;
        bool ended = true;
        QTimer::singleShot(0, qApp, request);
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, qApp, [&] {
            if (delegate.asked > askedBefore) {
                ended = false;
                // Let the refused request settle, then leave the loop ourselves.
                QCoreApplication::exit(1);
            }
        });
        guard.start(200);
        const int status = QCoreApplication::exec();
        return ended && status == 0;
    }

private Q_SLOTS:
    void modeFromArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<LaunchMode>("mode");
        const QString exe = u"/usr/bin/pelk-agent"_s;
        QTest::newRow("none") << QStringList { exe } << LaunchMode::StatusBar;
        QTest::newRow("recovery beats lock") << QStringList { exe, u"--lock-session"_s, u"--create-recovery-admin"_s }
                                             << LaunchMode::CreateRecoveryAdmin;
        QTest::newRow("recovery beats lock, other order") << QStringList { exe, u"--create-recovery-admin"_s,
            u"--lock-session"_s } << LaunchMode::CreateRecoveryAdmin;
        QTest::newRow("lock beats login window")
            << QStringList { exe, u"--login-window"_s, u"--lock-session"_s } << LaunchMode::LockSession;
        QTest::newRow("login window with background")
            << QStringList { exe, u"--background"_s, u"--login-window"_s } << LaunchMode::LoginWindow;
        QTest::newRow("repeated") << QStringList { exe, u"--login-window"_s, u"--login-window"_s }
                                  << LaunchMode::LoginWindow;
        QTest::newRow("with a value is not the switch")
            << QStringList { exe, u"--lock-session=1"_s } << LaunchMode::StatusBar;
        QTest::newRow("letter case matters")
            << QStringList { exe, u"--Lock-Session"_s, u"--LOGIN-WINDOW"_s } << LaunchMode::StatusBar;
        QTest::newRow("surrounding blanks")
            << QStringList { exe, u" --create-recovery-admin"_s } << LaunchMode::StatusBar;
        QTest::newRow("program path itself") << QStringList { u"--lock-session"_s } << LaunchMode::LockSession;
    }
    void modeFromArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(LaunchMode, mode);
        QCOMPARE(launchModeFor(arguments), mode);
    }

    void requestsAreRefusedWhileLocked_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("quit") << 0;
    }
    void requestsAreRefusedWhileLocked()
    {
        QFETCH(int, signal);
        FakeDelegate delegate;
        pelk::platform::UnixTerminationSignals signals;
        const TerminationRequests requests(delegate, signals);
        auto request = [signal] {
            if (signal)
                ::raise(signal);
            else
                QCoreApplication::quit();
        };
        QVERIFY(!runsUntilEnded(delegate, request));
        QCOMPARE(delegate.willTerminate, 0);

        delegate.locked = false;
        QVERIFY(runsUntilEnded(delegate, request));
        QCOMPARE(delegate.willTerminate, 1);
    }
};

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
