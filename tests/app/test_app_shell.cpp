// The application shell: launch modes, termination requests, the brand fonts, and the tray
// application over the agent model's fixture with a lock file beside its status file.

#include "agent/AgentModelFixture.h"
#include "app/AgentDelegate.h"
#include "app/BrandLook.h"
#include "app/LaunchMode.h"
#include "app/TerminationRequests.h"
#include "fakes/FakeDesktopLockdown.h"
#include "lock/ManagedLockController.h"
#include "platform/linux/UnixTerminationSignals.h"

#include <QAction>
#include <QFontInfo>
#include <QMenu>
#include <QQuickWindow>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>

using namespace pelk;
using namespace pelk::app;
using namespace Qt::StringLiterals;

namespace {

class FakeDelegate : public ApplicationDelegate {
public:
    bool locked = true;
    int asked = 0;
    int willTerminate = 0;
    void applicationDidFinishLaunching() override { }
    bool applicationShouldTerminate() override { return ++asked, !locked; }
    void applicationWillTerminate() override { ++willTerminate; }
};

} // namespace

class TestAppShell : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;
    std::unique_ptr<app::AgentDelegate> m_delegate;

    app::AgentDelegate &launch(bool background = false)
    {
        app::AgentParts parts;
        parts.managedLock
            = std::make_unique<app::LockRuntime>(std::make_unique<fakes::FakeDesktopLockdown>(), f->path("lock.json"));
        parts.model = std::move(f->model);
        m_delegate = std::make_unique<app::AgentDelegate>(
            std::move(parts), QStringList { u"pelk-agent"_s, background ? u"--background"_s : QString() });
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }
    void writeLocked(bool locked)
    {
        f->write(f->path("lock.json"), R"({"command_uuid":"c","locked":)" + QByteArray(locked ? "true}" : "false}"));
    }
    QStringList menuTexts() const
    {
        QStringList texts;
        for (const QAction *action : m_delegate->menu()->actions())
            texts.append(action->isSeparator() ? u"---"_s : action->text());
        return texts;
    }

    // Runs the event loop the way the application does, until it is ended or the delegate,
    // once asked and refusing, has let the request settle (then the loop is left with status 1).
    static bool runsUntilEnded(FakeDelegate &delegate, const std::function<void()> &request)
    {
        const int askedBefore = delegate.asked;
        QTimer::singleShot(0, qApp, request);
        QTimer guard;
        QObject::connect(&guard, &QTimer::timeout, qApp, [&] {
            if (delegate.asked > askedBefore)
                QCoreApplication::exit(1);
        });
        guard.start(200);
        return QCoreApplication::exec() == 0;
    }

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<testing::AgentModelFixture>();
        writeLocked(false);
    }
    void cleanup()
    {
        m_delegate.reset(); // before the clock it reads
        f.reset();
    }

    // Runs first, while nothing is registered yet: the process registry is global. A face that is
    // missing falls back to the default one at the same size; a weight without a face of its own
    // gets the regular one.
    void brandFaces()
    {
        QTemporaryDir dir;
        for (const QString &style : { u"Regular"_s, u"SemiBold"_s, u"Bold"_s }) {
            const QString name = u"/HankenGrotesk-"_s + style + u".ttf"_s;
            QVERIFY(QFile::copy(QString(kBrandFontDirectory) + name, dir.path() + name));
        }
        registerBrandFonts(dir.path());
        registerBrandFonts(dir.path() + u"/nowhere"_s);
        const QFontInfo medium(pelkFont(13, QFont::Medium));
        QVERIFY(medium.family() != u"Hanken Grotesk"_s && medium.pixelSize() == 13);
        registerBrandFonts();
        registerBrandFonts(); // again: harmless
        for (const auto &[weight, style] : { std::pair(QFont::Normal, "Regular"), std::pair(QFont::Medium, "Medium"),
                 std::pair(QFont::DemiBold, "SemiBold"), std::pair(QFont::Bold, "Bold"),
                 std::pair(QFont::Light, "Regular") }) {
            const QFontInfo font(pelkFont(14, weight));
            QCOMPARE(QStringList({ font.family(), font.styleName(), QString::number(font.pixelSize()) }),
                QStringList({ u"Hanken Grotesk"_s, QString::fromLatin1(style), u"14"_s }));
        }
    }

    // Arguments after the program, comma-separated.
    void modeFromArguments_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<LaunchMode>("mode");
        QTest::newRow("none") << QString() << LaunchMode::StatusBar;
        QTest::newRow("recovery beats lock")
            << u"--lock-session,--create-recovery-admin"_s << LaunchMode::CreateRecoveryAdmin;
        QTest::newRow("in any order") << u"--create-recovery-admin,--lock-session"_s << LaunchMode::CreateRecoveryAdmin;
        QTest::newRow("lock beats login window") << u"--login-window,--lock-session"_s << LaunchMode::LockSession;
        QTest::newRow("login window, background") << u"--background,--login-window"_s << LaunchMode::LoginWindow;
        QTest::newRow("with a value") << u"--lock-session=1"_s << LaunchMode::StatusBar;
        QTest::newRow("letter case") << u"--Lock-Session,--LOGIN-WINDOW"_s << LaunchMode::StatusBar;
        QTest::newRow("surrounding blanks") << u" --create-recovery-admin"_s << LaunchMode::StatusBar;
    }
    void modeFromArguments()
    {
        QFETCH(QString, arguments);
        QTEST(launchModeFor(QStringList { u"/usr/bin/pelk-agent"_s } + arguments.split(u',', Qt::SkipEmptyParts)),
            "mode");
        QCOMPARE(launchModeFor({ u"--lock-session"_s }), LaunchMode::LockSession); // even as the program path
    }

    void requestsAreRefusedWhileLocked_data()
    {
        QTest::addColumn<int>("signal"); // 0: a quit request
        for (const int signal : { SIGTERM, SIGINT, SIGHUP, 0 })
            QTest::newRow(signal ? strsignal(signal) : "quit") << signal;
    }
    void requestsAreRefusedWhileLocked()
    {
        QFETCH(int, signal);
        FakeDelegate delegate;
        pelk::platform::UnixTerminationSignals signals;
        const TerminationRequests requests(delegate, signals);
        auto request = [signal] { signal ? void(::raise(signal)) : QCoreApplication::quit(); };
        QVERIFY(!runsUntilEnded(delegate, request));
        QCOMPARE(delegate.willTerminate, 0);
        delegate.locked = false;
        QVERIFY(runsUntilEnded(delegate, request));
        QCOMPARE(delegate.willTerminate, 1);
    }

    void menuFollowsTheStatus_data()
    {
        QTest::addColumn<QByteArray>("status"); // empty: no status file and no helper
        QTest::addColumn<bool>("background");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("checkin");
        QTest::newRow("connected without a signing key")
            << QByteArray(R"({"phase":"connected","message":"m","last_checkin":"2026-05-01T09:29:00Z"})") << false
            << u"Pelk Agent \u00B7 Connected \u00B7 signing key needed"_s << u"Last check-in: 1 minute ago"_s;
        QTest::newRow("no status file, in the background")
            << QByteArray() << true << u"Pelk Agent \u00B7 Agent is not responding"_s
            << u"Last check-in: No check-in yet"_s;
    }
    void menuFollowsTheStatus()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, background);
        QFETCH(QString, line);
        QFETCH(QString, checkin);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        if (!status.isEmpty())
            f->write(f->statusPath(), status);
        app::AgentDelegate &delegate = launch(background);
        QCOMPARE(delegate.window() && delegate.window()->isVisible(), !background);
        QCOMPARE(delegate.item()->toolTip(), line);
        QCOMPARE(
            menuTexts(), QStringList({ line, checkin, u"---"_s, u"Open Pelk Agent\u2026"_s, u"Quit status app"_s }));
        QVERIFY(delegate.item()->contextMenu() == delegate.menu() && !delegate.item()->icon().isNull());

        // The next accepted poll rebuilds the menu from the new status.
        f->write(f->statusPath(), R"({"phase":"revoked","message":"m"})");
        delegate.model().refresh();
        QCOMPARE(menuTexts().constFirst(), u"Pelk Agent \u00B7 Device no longer managed"_s);
        QCOMPARE(delegate.item()->toolTip(), menuTexts().constFirst());
    }

    // Made the first time it is asked for, kept when closed; files opened load the first.
    void windowComesOnDemandAndIsKept()
    {
        app::AgentDelegate &delegate = launch(true);
        delegate.openFiles({});
        QVERIFY(!delegate.window());
        delegate.menu()->actions().at(3)->trigger(); // "Open Pelk Agent…"
        QQuickWindow *window = delegate.window();
        QVERIFY(window && window->isVisible());
        window->close();
        delegate.applicationShouldHandleReopen();
        QVERIFY(delegate.window() == window && window->isVisible());
        window->close();
        delegate.openFiles({ QUrl::fromLocalFile(f->enrollment("first.json", { { u"device_name"_s, u"First"_s } })),
            QUrl::fromLocalFile(f->enrollment("second.json")) });
        QCOMPARE(delegate.model().enrollment()->selectedDeviceName(), u"First"_s);
        QVERIFY(window->isVisible());
    }

    void lockedRefusesWindowAndQuit()
    {
        writeLocked(true);
        app::AgentDelegate &delegate = launch();
        QVERIFY(delegate.managedLock().isLocked());
        QVERIFY(!delegate.window()); // the lock is shown, the window is not
        QVERIFY(!delegate.menu()->actions().constLast()->isEnabled() && !delegate.applicationShouldTerminate());
        delegate.openWindow();
        QVERIFY(!delegate.window());

        // Unlocked: the next poll enables quitting again.
        writeLocked(false);
        delegate.model().refresh();
        QVERIFY(!delegate.managedLock().isLocked());
        QVERIFY(delegate.menu()->actions().constLast()->isEnabled() && delegate.applicationShouldTerminate());
    }
};

QTEST_MAIN(TestAppShell)
#include "test_app_shell.moc"
