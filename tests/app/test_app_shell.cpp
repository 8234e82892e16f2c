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
    void init() { f = std::make_unique<testing::AgentModelFixture>(), writeLocked(false); }
    void cleanup() { m_delegate.reset(), f.reset(); } // the delegate before the clock it reads

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

    // Switches match exactly, anywhere (even as the program path); recovery beats lock beats login window.
    void modeFromArguments()
    {
        const std::pair<const char *, LaunchMode> rows[] = { { "", LaunchMode::StatusBar },
            { "--lock-session,--create-recovery-admin", LaunchMode::CreateRecoveryAdmin },
            { "--create-recovery-admin,--lock-session", LaunchMode::CreateRecoveryAdmin },
            { "--login-window,--lock-session", LaunchMode::LockSession },
            { "--background,--login-window", LaunchMode::LoginWindow }, { "--lock-session=1", LaunchMode::StatusBar },
            { "--Lock-Session,--LOGIN-WINDOW", LaunchMode::StatusBar },
            { " --create-recovery-admin", LaunchMode::StatusBar } };
        for (const auto &[arguments, mode] : rows) {
            const QStringList list = QStringList { u"/usr/bin/pelk-agent"_s }
                + QString::fromLatin1(arguments).split(u',', Qt::SkipEmptyParts);
            QVERIFY2(launchModeFor(list) == mode, arguments);
        }
        QCOMPARE(launchModeFor({ u"--lock-session"_s }), LaunchMode::LockSession);
    }

    // Termination signals and quit requests are refused while locked and end the process once unlocked.
    void requestsAreRefusedWhileLocked()
    {
        for (const int signal : { SIGTERM, SIGINT, SIGHUP, 0 }) { // 0: a quit request
            FakeDelegate delegate;
            pelk::platform::UnixTerminationSignals signals;
            const TerminationRequests requests(delegate, signals);
            auto request = [signal] { signal ? void(::raise(signal)) : QCoreApplication::quit(); };
            QVERIFY2(!runsUntilEnded(delegate, request) && delegate.willTerminate == 0, strsignal(signal));
            delegate.locked = false;
            QVERIFY2(runsUntilEnded(delegate, request) && delegate.willTerminate == 1, strsignal(signal));
        }
    }

    // The window is made when first asked for; of files opened with the application the first
    // loads. (The menu's lines, closing and reopening the window and quitting while locked are
    // driven end to end by tests/e2e/tray.)
    void windowOnDemandAndOpenedFiles()
    {
        app::AgentDelegate &delegate = launch(true);
        delegate.openFiles({});
        QVERIFY(!delegate.window());
        delegate.openFiles({ QUrl::fromLocalFile(f->enrollment("first.json", { { u"device_name"_s, u"First"_s } })),
            QUrl::fromLocalFile(f->enrollment("second.json")) });
        QCOMPARE(delegate.model().enrollment()->selectedDeviceName(), u"First"_s);
        QVERIFY(delegate.window() && delegate.window()->isVisible());
        QVERIFY(delegate.item()->contextMenu() == delegate.menu() && !delegate.item()->icon().isNull());
    }

    // While locked no window opens, at launch or later, and nothing ends the application.
    void lockedRefusesWindowAndQuit()
    {
        writeLocked(true);
        app::AgentDelegate &delegate = launch();
        QVERIFY(delegate.managedLock().isLocked() && !delegate.window());
        QVERIFY(!delegate.menu()->actions().constLast()->isEnabled() && !delegate.applicationShouldTerminate());
        delegate.openWindow();
        QVERIFY(!delegate.window());
        writeLocked(false);
        delegate.model().refresh();
        QVERIFY(delegate.applicationShouldTerminate());
        delegate.applicationShouldHandleReopen();
        QVERIFY(delegate.window() && delegate.window()->isVisible());
    }
};

QTEST_MAIN(TestAppShell)
#include "test_app_shell.moc"
