#include "app/AgentDelegate.h"
#include "fakes/FakeAgentParts.h"
#include "lock/ManagedLockController.h"

#include <QAction>
#include <QMenu>
#include <QQuickWindow>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;

namespace {

QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->isSeparator() ? u"---"_s : action->text());
    return texts;
}

QJsonObject validEnrollment(const QString &deviceName)
{
    return { { u"format"_s, u"co.pelkcore.agent-enrollment"_s }, { u"version"_s, 1 }, { u"role"_s, u"helper"_s },
        { u"platform"_s, u"macos"_s }, { u"device_id"_s, 7 }, { u"workspace"_s, u"Acme"_s },
        { u"device_name"_s, deviceName }, { u"base_url"_s, u"https://acme.example"_s },
        { u"enrollment_token"_s, QString(40, u'x') }, { u"expires_at"_s, u"2099-01-01T00:00:00Z"_s } };
}

} // namespace

class TestAgentDelegate : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    fakes::FakeAgentParts m_parts;
    std::unique_ptr<app::AgentDelegate> m_delegate;

    app::AgentDelegate &launch(const QStringList &arguments = { u"pelk-agent"_s })
    {
        m_delegate = std::make_unique<app::AgentDelegate>(m_parts.make(), arguments);
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }
    QAction *quitAction() const { return m_delegate->menu()->actions().constLast(); }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_parts = fakes::FakeAgentParts { m_dir.path() };
        QFile::remove(m_parts.lockPath());
        QFile::remove(m_parts.statusPath());
        m_parts.writeLocked(false);
    }
    void cleanup() { m_delegate.reset(); }

    void menuFollowsTheStatus_data()
    {
        QTest::addColumn<QJsonObject>("status");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("checkin");
        QTest::newRow("offline, never checked in")
            << QJsonObject { { u"phase"_s, u"offline"_s }, { u"message"_s, u"m"_s } }
            << u"Pelk Agent \u00B7 Offline \u00B7 retrying"_s << u"Last check-in: No check-in yet"_s;
        QTest::newRow("connected without a signing key")
            << QJsonObject { { u"phase"_s, u"connected"_s }, { u"message"_s, u"m"_s } }
            << u"Pelk Agent \u00B7 Connected \u00B7 signing key needed"_s << u"Last check-in: No check-in yet"_s;
        QTest::newRow("no status file, no helper")
            << QJsonObject() << u"Pelk Agent \u00B7 Agent is not responding"_s << u"Last check-in: No check-in yet"_s;
    }
    void menuFollowsTheStatus()
    {
        QFETCH(QJsonObject, status);
        QFETCH(QString, line);
        QFETCH(QString, checkin);
        if (!status.isEmpty())
            m_parts.writeStatus(status);
        app::AgentDelegate &delegate = launch({ u"pelk-agent"_s, u"--background"_s });
        QCOMPARE(delegate.item()->toolTip(), line);
        QCOMPARE(menuTexts(delegate.menu()),
            QStringList({ line, checkin, u"---"_s, u"Open Pelk Agent\u2026"_s, u"Quit status app"_s }));
        const QList<QAction *> actions = delegate.menu()->actions();
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(!actions[1]->isEnabled());
        QVERIFY(actions[3]->isEnabled());
        QVERIFY(actions[4]->isEnabled());
        QVERIFY(delegate.item()->contextMenu() == delegate.menu());
        QVERIFY(!delegate.item()->icon().isNull());

        // The next accepted poll rebuilds the menu from the new status.
        m_parts.writeStatus({ { u"phase"_s, u"revoked"_s }, { u"message"_s, u"m"_s } });
        delegate.model().refresh();
        QCOMPARE(delegate.menu()->actions().constFirst()->text(), u"Pelk Agent \u00B7 Device no longer managed"_s);
        QCOMPARE(delegate.item()->toolTip(), u"Pelk Agent \u00B7 Device no longer managed"_s);
    }

    void backgroundLaunchLoadsNoWindowUntilOpened()
    {
        app::AgentDelegate &delegate = launch({ u"pelk-agent"_s, u"--background"_s });
        QVERIFY(!delegate.window());
        delegate.menu()->actions().at(3)->trigger(); // "Open Pelk Agent…"
        QVERIFY(delegate.window());
        QVERIFY(delegate.window()->isVisible());
    }

    void mainWindowIsKeptWhenClosed()
    {
        app::AgentDelegate &delegate = launch();
        QQuickWindow *window = delegate.window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->size(), QSize(680, 760));
        QCOMPARE(window->minimumSize(), QSize(580, 620));
        QCOMPARE(window->title(), u"Pelk Agent"_s);
        QCOMPARE(window->color(), QColor::fromRgbF(0.72f, 0.32f, 0.23f, 1.0f));
        window->close();
        QVERIFY(!window->isVisible());
        delegate.applicationShouldHandleReopen();
        QCOMPARE(delegate.window(), window);
        QVERIFY(window->isVisible());
    }

    void lockedRefusesWindowAndQuit()
    {
        m_parts.writeLocked(true);
        app::AgentDelegate &delegate = launch();
        QVERIFY(delegate.managedLock().isLocked());
        QVERIFY(!delegate.window()); // the lock is shown, the window is not
        QVERIFY(!quitAction()->isEnabled());
        QVERIFY(!delegate.applicationShouldTerminate());
        delegate.openWindow();
        QVERIFY(!delegate.window());

        // Unlocked: the next poll enables quitting again.
        m_parts.writeLocked(false);
        delegate.model().refresh();
        QVERIFY(!delegate.managedLock().isLocked());
        QVERIFY(quitAction()->isEnabled());
        QVERIFY(delegate.applicationShouldTerminate());
    }

    void openingFilesLoadsTheFirstOnly()
    {
        app::AgentDelegate &delegate = launch({ u"pelk-agent"_s, u"--background"_s });
        delegate.openFiles({});
        QVERIFY(!delegate.window());
        const QString first = m_dir.filePath(u"first.json"_s);
        const QString second = m_dir.filePath(u"second.json"_s);
        fakes::FakeAgentParts::write(first, QJsonDocument(validEnrollment(u"First"_s)).toJson());
        fakes::FakeAgentParts::write(second, QJsonDocument(validEnrollment(u"Second"_s)).toJson());
        delegate.openFiles({ QUrl::fromLocalFile(first), QUrl::fromLocalFile(second) });
        QCOMPARE(delegate.model().enrollment()->selectedDeviceName(), u"First"_s);
        QVERIFY(delegate.window() && delegate.window()->isVisible());
    }
};

QTEST_MAIN(TestAgentDelegate)
#include "test_agent_delegate.moc"
