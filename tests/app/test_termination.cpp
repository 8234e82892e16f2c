#include "app/ApplicationDelegate.h"
#include "app/TerminationRequests.h"

#include <QGuiApplication>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace pelk::app;

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

class TestTermination : public QObject {
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
        const TerminationRequests requests(delegate);
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

QTEST_MAIN(TestTermination)
#include "test_termination.moc"
