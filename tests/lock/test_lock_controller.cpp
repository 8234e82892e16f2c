#include "fakes/FakeApiRequester.h"
#include "fakes/FakeDesktopLockdown.h"
#include "fakes/FakeLockScreens.h"
#include "lock/ManagedLockController.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;

namespace {

const QString kUrl = u"http://127.0.0.1:8123/api/v1"_s;

QByteArray record(bool locked, const QString &command = u"cmd-1"_s, const QJsonValue &message = QJsonValue(),
    const QString &session = u"s3cret"_s)
{
    QJsonObject o { { u"locked"_s, locked }, { u"command_uuid"_s, command }, { u"url"_s, kUrl },
        { u"session"_s, session } };
    if (!message.isUndefined())
        o.insert(u"message"_s, message);
    return QJsonDocument(o).toJson();
}

} // namespace

class TestLockController : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<fakes::FakeLockScreens> m_screens;
    std::unique_ptr<fakes::FakeDesktopLockdown> m_lockdown;
    std::unique_ptr<fakes::FakeApiRequester> m_api;
    std::unique_ptr<lock::ManagedLockController> m_lock;

    void write(const QByteArray &bytes)
    {
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    size_t openCount() const { return m_screens->openWindows().size(); }

private Q_SLOTS:
    void init()
    {
        m_path = m_dir.filePath(u"agent-lock.json"_s);
        QFile::remove(m_path);
        m_screens = std::make_unique<fakes::FakeLockScreens>();
        m_lockdown = std::make_unique<fakes::FakeDesktopLockdown>();
        m_api = std::make_unique<fakes::FakeApiRequester>();
        m_lock = std::make_unique<lock::ManagedLockController>(*m_screens, *m_lockdown, *m_api, m_path);
    }

    // Whatever cannot be decoded leaves the lock as it is: never locks, never unlocks.
    void unreadableFileNeverLocksOrUnlocks_data()
    {
        QTest::addColumn<QByteArray>("bad"); // empty: no file
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\xff\xfe{{{");
        QTest::newRow("locked without command") << QByteArray("{\"locked\":true,\"url\":\"x\"}");
        QTest::newRow("unlocked with wrong type") << QByteArray("{\"locked\":false,\"command_uuid\":7}");
        QTest::newRow("no locked") << QByteArray("{\"command_uuid\":\"c\"}");
        QTest::newRow("locked as text") << QByteArray("{\"locked\":\"false\",\"command_uuid\":\"c\"}");
        QTest::newRow("session as object") << QByteArray("{\"locked\":false,\"command_uuid\":\"c\",\"session\":{}}");
        QTest::newRow("truncated") << QByteArray("{\"locked\":false,\"command_uu");
    }
    void unreadableFileNeverLocksOrUnlocks()
    {
        QFETCH(QByteArray, bad);
        auto writeBad = [&] {
            if (bad.isEmpty())
                QFile::remove(m_path);
            else
                write(bad);
        };
        writeBad();
        m_lock->refresh();
        QVERIFY(!m_lock->isLocked());
        QCOMPARE(openCount(), size_t(0));

        write(record(true));
        m_lock->refresh();
        QVERIFY(m_lock->isLocked());
        writeBad();
        for (int i = 0; i < 3; ++i)
            m_lock->refresh();
        QVERIFY(m_lock->isLocked());
        QCOMPARE(openCount(), size_t(1));
        QCOMPARE(m_lockdown->current, fakes::FakeDesktopLockdown::Locked);
    }

    void lockCoversEveryScreenAndReportsPresence()
    {
        m_screens->screenList = { QRect(0, 0, 800, 600), QRect(800, 0, 1920, 1080) };
        m_lock->setAboveLoginWindow(true);
        QSignalSpy lockedChanged(m_lock.get(), &lock::ManagedLockController::lockedChanged);
        write(record(true, u"cmd-42"_s, u"Call IT\nExt. 42"_s));
        m_lock->refresh();

        const auto open = m_screens->openWindows();
        QCOMPARE(open.size(), size_t(2));
        QCOMPARE(open[1]->frame, QRect(800, 0, 1920, 1080));
        QCOMPARE(open[0]->message, u"Call IT\nExt. 42"_s);
        QVERIFY(open[0]->aboveLoginWindow);
        QCOMPARE(open[0]->makeKeys, 1);
        QCOMPARE(open[1]->makeKeys, 0);
        QCOMPARE(m_lockdown->lastKeyWindow, quintptr(101));
        QCOMPARE(lockedChanged.size(), 1);

        QCOMPARE(m_api->sent.size(), size_t(1));
        const QNetworkRequest &r = m_api->sent[0].request;
        QCOMPARE(r.url(), QUrl(u"http://127.0.0.1:8123/presence"_s));
        QCOMPARE(r.rawHeader("X-Pelk-Session"), QByteArray("s3cret"));
        QCOMPARE(r.rawHeader("Content-Type"), QByteArray("application/json"));
        QCOMPARE(m_api->sent[0].body, (QJsonObject { { u"command_uuid"_s, u"cmd-42"_s } }));

        // Every tick refits, re-forces and reports presence again without rebuilding.
        m_screens->screenList[1] = QRect(800, 0, 1280, 1024);
        m_lock->refresh();
        QCOMPARE(m_screens->created.size(), size_t(2));
        QCOMPARE(open[1]->frame, QRect(800, 0, 1280, 1024));
        QCOMPARE(open[1]->orderFronts, 2);
        QCOMPARE(m_lockdown->forces, 2);
        QCOMPARE(m_lockdown->saves, 1);
        QCOMPARE(m_api->sent.size(), size_t(2));
        QCOMPARE(lockedChanged.size(), 1);
    }

    void rebuildRules_data()
    {
        QTest::addColumn<QByteArray>("next");
        QTest::addColumn<int>("screens");
        QTest::addColumn<bool>("rebuilt");
        QTest::newRow("same record") << record(true, u"cmd-1"_s, u"m"_s) << 1 << false;
        QTest::newRow("new session only") << record(true, u"cmd-1"_s, u"m"_s, u"other"_s) << 1 << false;
        QTest::newRow("new message") << record(true, u"cmd-1"_s, u"m2"_s) << 1 << true;
        QTest::newRow("empty message is not absent") << record(true, u"cmd-1"_s, u""_s) << 1 << true;
        QTest::newRow("new command") << record(true, u"cmd-2"_s, u"m"_s) << 1 << true;
        QTest::newRow("screen added") << record(true, u"cmd-1"_s, u"m"_s) << 2 << true;
    }
    void rebuildRules()
    {
        QFETCH(QByteArray, next);
        QFETCH(int, screens);
        QFETCH(bool, rebuilt);
        write(record(true, u"cmd-1"_s, u"m"_s));
        m_lock->refresh();
        const auto first = m_screens->openWindows();
        QCOMPARE(first.size(), size_t(1));

        write(next);
        while (m_screens->screenList.size() < screens)
            m_screens->screenList.append(QRect(1024, 0, 640, 480));
        m_lock->refresh();
        QCOMPARE(first[0]->open, !rebuilt);
        QCOMPARE(openCount(), size_t(screens));
        QCOMPARE(m_lockdown->saves, 1);
        if (rebuilt)
            QCOMPARE(m_screens->openWindows()[0]->message, m_lock->state()->message.value_or(QString()));
    }

    void unlockRestoresWhatWasSaved()
    {
        m_lockdown->current = fakes::FakeDesktopLockdown::Custom;
        write(record(true));
        m_lock->start(); // polls at once
        QCOMPARE(openCount(), size_t(1));
        m_lock->refresh();
        QCOMPARE(m_lockdown->current, fakes::FakeDesktopLockdown::Locked);
        write("{\"locked\":false,\"command_uuid\":\"c\",\"message\":null,\"url\":null}"); // null is absent
        m_lock->refresh();
        QVERIFY(!m_lock->isLocked());
        QCOMPARE(openCount(), size_t(0));
        QCOMPARE(m_lockdown->current, fakes::FakeDesktopLockdown::Custom);
        const size_t sent = m_api->sent.size();
        m_lock->refresh();
        QCOMPARE(m_api->sent.size(), sent); // no presence while unlocked
    }

    void noScreensStillLocksDown()
    {
        m_screens->screenList.clear();
        write(record(true));
        m_lock->refresh();
        QVERIFY(m_lock->isLocked());
        QCOMPARE(m_screens->created.size(), size_t(0));
        QCOMPARE(m_lockdown->current, fakes::FakeDesktopLockdown::Locked);
        QCOMPARE(m_lockdown->lastKeyWindow, quintptr(0));
        QCOMPARE(m_api->sent.size(), size_t(1));
        m_screens->screenList = { QRect(0, 0, 100, 100) };
        m_lock->refresh();
        QCOMPARE(openCount(), size_t(1));
    }

    void pinGoesToUnlockAndSuccessRefreshesAtOnce()
    {
        write(record(true));
        m_lock->refresh();
        auto pad = m_screens->openWindows()[0];
        std::optional<bool> answer;
        pad->submit(u"123456"_s, [&](bool ok) {
            answer = ok;
            QVERIFY(m_lock->isLocked()); // the pad hears first, then the refresh runs
        });
        QCOMPARE(m_api->sent.size(), size_t(2));
        QCOMPARE(m_api->path(1), u"/unlock"_s);
        QCOMPARE(m_api->sent[1].body, (QJsonObject { { u"pin"_s, u"123456"_s } }));

        m_api->answer(1, false);
        QCOMPARE(answer, std::optional(false));
        QVERIFY(m_lock->isLocked());

        pad->submit(u"654321"_s, [&](bool ok) { answer = ok; });
        write(record(false)); // the agent rewrote the file before answering
        m_api->answer(m_api->sent.size() - 1, true);
        QCOMPARE(answer, std::optional(true));
        QVERIFY(!m_lock->isLocked());
        QCOMPARE(openCount(), size_t(0));
    }

    void requestPreconditionsFailAtOnce_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("no session") << QByteArray(
            "{\"locked\":true,\"command_uuid\":\"c\",\"url\":\"http://127.0.0.1:1/\"}");
        QTest::newRow("https") << QByteArray(
            "{\"locked\":true,\"command_uuid\":\"c\",\"url\":\"https://127.0.0.1:1/\",\"session\":\"s\"}");
        QTest::newRow("session with newline") << QByteArray(
            "{\"locked\":true,\"command_uuid\":\"c\",\"url\":\"http://127.0.0.1:1/\",\"session\":\"s\\r\\nX: y\"}");
    }
    void requestPreconditionsFailAtOnce()
    {
        QFETCH(QByteArray, bytes);
        write(bytes);
        m_lock->refresh();
        QVERIFY(m_lock->isLocked());
        QCOMPARE(openCount(), size_t(1));
        QCOMPARE(m_lockdown->current, fakes::FakeDesktopLockdown::Locked);
        std::optional<bool> answer;
        m_screens->openWindows()[0]->submit(u"123456"_s, [&](bool ok) { answer = ok; });
        QCOMPARE(answer, std::optional(false)); // at once, nothing sent
        QCOMPARE(m_api->sent.size(), size_t(0));
    }

    void completionAfterControllerIsGoneIsHarmless()
    {
        write(record(true));
        m_lock->refresh();
        bool called = false;
        m_screens->openWindows()[0]->submit(u"123456"_s, [&](bool) { called = true; });
        m_lock.reset();
        m_api->answer(1, true);
        m_api->answer(0, true);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestLockController)
#include "test_lock_controller.moc"
