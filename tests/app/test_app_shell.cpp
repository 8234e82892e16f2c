// The application shell: launch modes, the brand fonts, the tray application over the agent
// model's fixture with a lock file beside its status file, and the setup window as the person sees
// it. (Termination refused while locked, and files opened with the application, are driven end to
// end by test_lock_e2e and tests/e2e/tray.)

#include "agent/AgentModelFixture.h"
#include "app/AgentDelegate.h"
#include "app/BrandLook.h"
#include "app/LaunchMode.h"
#include "app/Translations.h"
#include "fakes/FakeDesktopLockdown.h"
#include "fakes/QuickItems.h"
#include "lock/ManagedLockController.h"

#include <QFontInfo>
#include <QMimeData>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

using namespace pelk;
using namespace pelk::app;
using namespace Qt::StringLiterals;

class TestAppShell : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::AgentModelFixture> f;
    std::unique_ptr<app::AgentDelegate> m_delegate;
    QQuickWindow *m_window = nullptr; // the delegate's

    app::AgentDelegate &launch()
    {
        app::AgentParts parts;
        parts.managedLock
            = std::make_unique<app::LockRuntime>(std::make_unique<fakes::FakeDesktopLockdown>(), f->path("lock.json"));
        parts.model = std::move(f->model);
        m_delegate = std::make_unique<app::AgentDelegate>(std::move(parts), QStringList { u"pelk-agent"_s });
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }
    void writeLocked(bool locked)
    {
        f->write(f->path("lock.json"), R"({"command_uuid":"c","locked":)" + QByteArray(locked ? "true}" : "false}"));
    }
    // The setup window as the application shows it at launch.
    void showSetupWindow() { m_window = launch().window(); }
    QQuickItem *item(const char *name)
    {
        QQuickItem *found = fakes::findItem(m_window->contentItem(), QLatin1StringView(name));
        return found ? found : (qFatal("no item %s", name), nullptr);
    }
    QString text(const char *name) { return item(name)->property("text").toString(); }
    bool shown(const char *name) { return item(name)->isVisible(); }

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

    // While locked no window opens, at launch or later; unlocked, reopening shows it.
    void lockedOpensNoWindow()
    {
        writeLocked(true);
        app::AgentDelegate &delegate = launch();
        QVERIFY(delegate.managedLock().isLocked() && !delegate.window());
        delegate.openWindow();
        QVERIFY(!delegate.window());
        writeLocked(false);
        delegate.model().refresh();
        delegate.applicationShouldHandleReopen();
        QVERIFY(delegate.window() && delegate.window()->isVisible());
    }

    // The card's title, the parts shown and the import button, by phase and selection.
    void cardFollowsPhaseAndSelection_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QString>("card");
        QTest::newRow("connected") << QByteArray(R"("phase":"connected","browser_history_enabled":true)") << false
                                   << u"Your device is connected | connectedGroup changeButton | "_s;
        QTest::newRow("connected, selected")
            << QByteArray(R"("phase":"connected")") << true
            << u"Your device is connected | dropArea selectedFile connectedGroup | Replace enrollment"_s;
        QTest::newRow("revoked, selected")
            << QByteArray(R"("phase":"revoked")") << true
            << u"Device removed from Pelk | dropArea selectedFile | Connect to workspace"_s;
        QTest::newRow("offline") << QByteArray(R"("phase":"offline")") << false
                                 << u"Connect your device | dropArea | "_s;
        QTest::newRow("connected, check-in unreadable")
            << QByteArray(R"("phase":"connected","last_checkin":"yesterday")") << false
            << u"Your device is connected | changeButton | "_s;
    }
    void cardFollowsPhaseAndSelection()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, selected);
        showSetupWindow();
        f->status(status.contains("last_checkin") ? status : R"("last_checkin":"2026-05-01T09:29:15Z",)" + status);
        if (selected)
            f->import().loadFile(f->enrollment("e.json"));
        QStringList parts;
        for (const char *name : { "dropArea", "selectedFile", "connectedGroup", "changeButton" })
            if (shown(name))
                parts << QString::fromLatin1(name);
        QTEST(QString(text("title") + u" | "_s + parts.join(u' ') + u" | "_s
                  + (selected ? text("importButton") : QString())),
            "card");
        if (shown("connectedGroup"))
            QCOMPARE(text("websiteReporting").startsWith(u"Website reporting is on"_s), status.contains("history"));
    }

    void errorLineCancelAndImport()
    {
        showSetupWindow();
        f->import().loadFile(f->enrollment("good.json"));
        f->import().loadFile(f->enrollment("linux.json", { { u"platform"_s, u"linux"_s } }));
        QCOMPARE(text("errorText"), f->import().errorText());
        QVERIFY(shown("errorLine") && shown("selectedFile")); // the earlier selection stays
        QVERIFY(QMetaObject::invokeMethod(item("cancelButton"), "clicked"));
        QVERIFY(!shown("selectedFile") && shown("errorLine")); // Cancel keeps the error
        f->import().loadFile(f->enrollment("good.json"));
        QVERIFY(QMetaObject::invokeMethod(item("importButton"), "clicked"));
        QTRY_VERIFY(shown("spinner"));
        QVERIFY(!shown("selectedFile") && !shown("errorLine"));
        QCOMPARE(text("statusMessage"), f->live->message());
    }

    // The longest card (a removed device, a file selected, an error) in the smallest window shows its
    // scroll handle, and scrolled to the end, the footer.
    void longCardScrollsToItsEnd()
    {
        showSetupWindow();
        f->status(R"("last_checkin":"2026-05-01T09:29:15Z","phase":"revoked")");
        f->import().loadFile(f->enrollment("good.json"));
        f->import().loadFile(f->enrollment("linux.json", { { u"platform"_s, u"linux"_s } }));
        m_window->resize(m_window->minimumSize());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QQuickItem *bar = item("scrollBar");
        QTRY_VERIFY(bar->property("contentItem").value<QQuickItem *>()->opacity() > 0);
        bar->setProperty("position", 1.0 - bar->property("size").toDouble());
        const auto footer
            = [this] { return item("footer")->mapRectToScene(QRectF(QPointF(), item("footer")->size())); };
        QTRY_VERIFY(footer().top() >= 0 && footer().bottom() <= m_window->height());
    }

    // The window and the tray speak the session's language (a region without a catalog of its own
    // takes its language's); a language without a catalog stays English; the agent's message is as it came.
    void textsFollowTheLocale()
    {
        for (const auto &[locale, shown] :
            { std::pair(u"de_AT"_s,
                  u"Verbinden Sie Ihr Gerät | Pelk Agent · Offline · neuer Versuch läuft | "
                  u"Letzter Check-in: Noch kein Check-in | m"_s),
                std::pair(u"sw_KE"_s,
                    u"Connect your device | Pelk Agent · Offline · retrying | Last check-in: No check-in yet | m"_s) }) {
            cleanup(), init(); // a fresh model and window for each language
            const app::Translations translations { QLocale(locale) };
            showSetupWindow();
            f->status(R"("phase":"offline")");
            QCOMPARE(
                QStringList({ text("title"), m_delegate->statusLine(), text("lastCheckin"), text("statusMessage") })
                    .join(u" | "_s),
                shown);
        }
    }

    // Drags come as the window system delivers them: enter, then drop, at a point of the area.
    void droppingFilesLoadsTheFirst()
    {
        showSetupWindow();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        const QPoint point = item("dropArea")->mapToScene(QPointF(item("dropArea")->width() / 2, 20)).toPoint();
        const QString idleHint = text("dropHint");
        QMimeData link; // a web link is no file: not taken, the area stays as it was
        link.setUrls({ QUrl(u"https://example.com/enrollment.json"_s) });
        QDragEnterEvent linkEnter(point, Qt::CopyAction, &link, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &linkEnter);
        QVERIFY(!linkEnter.isAccepted() && text("dropHint") == idleHint);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(m_window, &leave);
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(f->enrollment("dropped.json")),
            QUrl::fromLocalFile(f->enrollment("other.json", { { u"device_name"_s, u"Other"_s } })) });
        QDragEnterEvent enter(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &enter);
        QVERIFY(enter.isAccepted() && text("dropHint") != idleHint);
        QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &drop);
        QVERIFY(drop.isAccepted() && text("dropHint") == idleHint);
        QCOMPARE(text("selectedDeviceName"), u"mac-01"_s);
    }
};

QTEST_MAIN(TestAppShell)
#include "test_app_shell.moc"
