#include "fakes/FakeApiRequester.h"
#include "fakes/FakeDesktopLockdown.h"
#include "fakes/FakeLockScreens.h"
#include "lock/ManagedLockController.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;
using Lockdown = fakes::FakeDesktopLockdown;

namespace {

QByteArray record(bool locked, const QString &command = u"cmd-1"_s, const QJsonValue &message = QJsonValue(),
    const QString &session = u"s3cret"_s)
{
    QJsonObject o { { u"locked"_s, locked }, { u"command_uuid"_s, command },
        { u"url"_s, u"http://127.0.0.1:8123/api/v1"_s }, { u"session"_s, session } };
    if (!message.isUndefined())
        o.insert(u"message"_s, message);
    return QJsonDocument(o).toJson();
}

} // namespace

class TestLockController : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<fakes::FakeLockScreens> m_screens;
    std::unique_ptr<Lockdown> m_lockdown;
    std::unique_ptr<fakes::FakeApiRequester> m_api;
    std::unique_ptr<lock::ManagedLockController> m_lock;

    std::optional<bool> m_answer;

    // Writes the lock file; empty bytes remove it.
    void write(const QByteArray &bytes)
    {
        QFile f(m_dir.filePath(u"agent-lock.json"_s));
        if (bytes.isEmpty())
            f.remove();
        else
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
    }
    void tick(const QByteArray &bytes)
    {
        write(bytes);
        m_lock->refresh();
    }
    size_t openCount() const { return m_screens->openWindows().size(); }
    void submit(const QString &pin)
    {
        m_answer.reset();
        m_screens->openWindows().at(0)->submit(pin, [this](bool ok) { m_answer = ok; });
    }

private Q_SLOTS:
    void init()
    {
        m_screens = std::make_unique<fakes::FakeLockScreens>();
        m_lockdown = std::make_unique<Lockdown>();
        m_api = std::make_unique<fakes::FakeApiRequester>();
        m_lock = std::make_unique<lock::ManagedLockController>(
            *m_screens, *m_lockdown, *m_api, m_dir.filePath(u"agent-lock.json"_s));
        tick({});
    }

    // Only a whole valid record counts: anything else neither locks nor unlocks.
    void invalidFileChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("bad"); // empty: no file
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\xff\xfe{{{");
        QTest::newRow("truncated") << QByteArray("{\"locked\":false,\"command_uu");
        QTest::newRow("no command") << QByteArray("{\"locked\":false,\"url\":\"x\"}");
        QTest::newRow("no locked") << QByteArray("{\"command_uuid\":\"c\"}");
        QTest::newRow("locked as text") << QByteArray("{\"locked\":\"false\",\"command_uuid\":\"c\"}");
        QTest::newRow("command as number") << QByteArray("{\"locked\":false,\"command_uuid\":7}");
        QTest::newRow("message as number") << QByteArray("{\"locked\":false,\"command_uuid\":\"c\",\"message\":1}");
        QTest::newRow("session as object") << QByteArray("{\"locked\":false,\"command_uuid\":\"c\",\"session\":{}}");
    }
    void invalidFileChangesNothing()
    {
        QFETCH(QByteArray, bad);
        tick(bad);
        QCOMPARE(openCount(), size_t(0));
        QCOMPARE(m_lockdown->current, Lockdown::Custom);
        tick(record(true));
        tick(bad);
        tick(bad);
        QCOMPARE(openCount(), size_t(1));
        QCOMPARE(m_lockdown->current, Lockdown::Locked);
    }

    void lockCoversEveryScreenAndReportsPresence()
    {
        m_screens->screenList = { QRect(0, 0, 800, 600), QRect(800, 0, 1920, 1080) };
        m_lock->setAboveLoginWindow(true);
        tick(record(true, u"cmd-42"_s, u"Call IT\nExt. 42"_s));
        const auto open = m_screens->openWindows();
        QCOMPARE(open.size(), size_t(2));
        QCOMPARE(open[1]->frame, QRect(800, 0, 1920, 1080));
        QCOMPARE(open[1]->message, u"Call IT\nExt. 42"_s);
        QVERIFY(open[0]->aboveLoginWindow && open[1]->aboveLoginWindow);
        QVERIFY(open[0]->key && !open[1]->key);
        QCOMPARE(m_lockdown->keyWindow, quintptr(101));

        // Every tick refits the windows and reports presence again, without rebuilding.
        m_screens->screenList[1] = QRect(800, 0, 1280, 1024);
        tick(record(true, u"cmd-42"_s, u"Call IT\nExt. 42"_s));
        QCOMPARE(m_screens->created.size(), size_t(2));
        QCOMPARE(open[1]->frame, QRect(800, 0, 1280, 1024));
        QCOMPARE(m_api->sent.size(), size_t(2));
        for (const auto &sent : m_api->sent) {
            QCOMPARE(sent.request.url(), QUrl(u"http://127.0.0.1:8123/presence"_s));
            QCOMPARE(sent.request.rawHeader("X-Pelk-Session"), QByteArray("s3cret"));
            QCOMPARE(sent.body, (QJsonObject { { u"command_uuid"_s, u"cmd-42"_s } }));
        }
    }

    void rebuildRules_data()
    {
        QTest::addColumn<QByteArray>("next");
        QTest::addColumn<int>("screens");
        QTest::addColumn<QString>("message"); // shown after; null: the first windows stay
        QTest::newRow("same record") << record(true, u"cmd-1"_s, u"m"_s) << 1 << QString();
        QTest::newRow("new session only") << record(true, u"cmd-1"_s, u"m"_s, u"other"_s) << 1 << QString();
        QTest::newRow("new message") << record(true, u"cmd-1"_s, u"m2"_s) << 1 << u"m2"_s;
        QTest::newRow("message emptied") << record(true, u"cmd-1"_s, u""_s) << 1 << u""_s;
        QTest::newRow("message dropped") << record(true, u"cmd-1"_s) << 1 << u""_s;
        QTest::newRow("new command") << record(true, u"cmd-2"_s, u"m"_s) << 1 << u"m"_s;
        QTest::newRow("screen added") << record(true, u"cmd-1"_s, u"m"_s) << 2 << u"m"_s;
    }
    void rebuildRules()
    {
        QFETCH(QByteArray, next);
        QFETCH(int, screens);
        QFETCH(QString, message);
        tick(record(true, u"cmd-1"_s, u"m"_s));
        const auto first = m_screens->openWindows();
        m_screens->screenList.resize(screens, QRect(1024, 0, 640, 480));
        tick(next);
        QCOMPARE(first[0]->open, message.isNull());
        QCOMPARE(openCount(), size_t(screens));
        QCOMPARE(m_screens->openWindows()[0]->message, message.isNull() ? u"m"_s : message);
    }

    // The saved desktop comes back on unlock, also when there was no screen to cover.
    void unlockRestoresTheDesktop_data()
    {
        QTest::addColumn<int>("screens");
        QTest::newRow("one screen") << 1;
        QTest::newRow("no screen") << 0;
    }
    void unlockRestoresTheDesktop()
    {
        QFETCH(int, screens);
        m_screens->screenList.resize(screens);
        tick(record(true));
        tick(record(true));
        QCOMPARE(openCount(), size_t(screens));
        QCOMPARE(m_lockdown->current, Lockdown::Locked);
        QCOMPARE(m_api->sent.size(), size_t(2)); // presence even with nothing to show
        tick("{\"locked\":false,\"command_uuid\":\"c\",\"message\":null,\"url\":null}"); // null is absent
        QCOMPARE(openCount(), size_t(0));
        QCOMPARE(m_lockdown->current, Lockdown::Custom);
        tick(record(false));
        QCOMPARE(m_api->sent.size(), size_t(2)); // no presence while unlocked
    }

    // Another client holding the keyboard is asked again well before the next tick (none runs
    // here), while the lock windows stay up.
    void refusedGrabIsRetriedSoon()
    {
        m_lockdown->refusals = 3;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"another client holds"_s)); // once
        QTest::failOnWarning(QRegularExpression(u"another client holds"_s));
        tick(record(true));
        QCOMPARE(m_lockdown->current, Lockdown::Custom);
        QCOMPARE(openCount(), size_t(1));
        QTRY_COMPARE(m_lockdown->current, Lockdown::Locked);
        QCOMPARE(m_lockdown->keyWindow, quintptr(101));
        QCOMPARE(openCount(), size_t(1));
    }

    void pinGoesToUnlockAndSuccessRefreshesAtOnce()
    {
        tick(record(true));
        submit(u"123456"_s);
        QCOMPARE(m_api->path(1), u"/unlock"_s);
        QCOMPARE(m_api->sent[1].body, (QJsonObject { { u"pin"_s, u"123456"_s } }));
        m_api->answer(1, false);
        QCOMPARE(m_answer, std::optional(false));
        QCOMPARE(openCount(), size_t(1));

        submit(u"654321"_s);
        write(record(false)); // the agent rewrites the file before it answers
        m_api->answer(2, true);
        QCOMPARE(m_answer, std::optional(true));
        QCOMPARE(openCount(), size_t(0));
    }

    void requestPreconditionsFailAtOnce_data()
    {
        QTest::addColumn<QString>("extra");
        QTest::newRow("no session") << u"\"url\":\"http://127.0.0.1:1/\""_s;
        QTest::newRow("https") << u"\"url\":\"https://127.0.0.1:1/\",\"session\":\"s\""_s;
        QTest::newRow("session with newline") << u"\"url\":\"http://127.0.0.1:1/\",\"session\":\"s\\r\\nX: y\""_s;
    }
    void requestPreconditionsFailAtOnce()
    {
        QFETCH(QString, extra);
        tick("{\"locked\":true,\"command_uuid\":\"c\"," + extra.toUtf8() + '}');
        QCOMPARE(openCount(), size_t(1));
        QCOMPARE(m_lockdown->current, Lockdown::Locked);
        submit(u"123456"_s);
        QCOMPARE(m_answer, std::optional(false)); // at once, nothing sent
        QCOMPARE(m_api->sent.size(), size_t(0));
    }

    void completionAfterControllerIsGoneIsHarmless()
    {
        tick(record(true));
        submit(u"123456"_s);
        m_lock.reset();
        m_api->answer(1, true);
        m_api->answer(0, true);
        QCOMPARE(m_answer, std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestLockController)
#include "test_lock_controller.moc"
