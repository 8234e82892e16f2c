#include "AgentSimulator.h"
#include "fakes/FakeApiRequester.h"
#include "fakes/FakeDesktopLockdown.h"
#include "fakes/FakeLockScreens.h"
#include "lock/ManagedLockController.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk;
using namespace Qt::StringLiterals;
using Lockdown = fakes::FakeDesktopLockdown;
using agentsim::Endpoint;

namespace {

// A valid lock file with these members first.
QByteArray record(const char *members)
{
    return "{" + QByteArray(members) + R"(,"url":"http://127.0.0.1:8123/api/v1","session":"s3cret"})";
}

const QByteArray kLocked = record(R"("locked":true,"command_uuid":"cmd-1","message":"m")");

} // namespace

class TestLockController : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<fakes::FakeLockScreens> m_screens;
    std::unique_ptr<Lockdown> m_lockdown;
    std::unique_ptr<fakes::FakeApiRequester> m_api;
    std::unique_ptr<lock::ManagedLockController> m_lock;
    std::optional<bool> m_answer;

    // Writes the lock file (empty bytes remove it) and lets the controller read it.
    void tick(const QByteArray &bytes)
    {
        QFile f(m_dir.filePath(u"agent-lock.json"_s));
        if (bytes.isEmpty())
            f.remove();
        else
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
        f.close();
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
    }

    // Locked with message "m", then the next file: only a whole valid record with locked false
    // unlocks (and gives the desktop back); a new command or message rebuilds the windows.
    void nextFile_data()
    {
        QTest::addColumn<int>("screens"); // before; the "screen added" row adds one
        QTest::addColumn<QByteArray>("next");
        QTest::addColumn<int>("open");
        QTest::addColumn<QString>("shown"); // the message rebuilt windows show; null: the first stay
        const QString kept;
        QTest::newRow("missing") << 1 << QByteArray() << 1 << kept;
        QTest::newRow("truncated") << 1 << QByteArray("{\"locked\":false,\"command_uu") << 1 << kept;
        QTest::newRow("no command") << 1 << QByteArray(R"({"locked":false,"url":"x"})") << 1 << kept;
        QTest::newRow("locked as text") << 1 << QByteArray(R"({"locked":"false","command_uuid":"c"})") << 1 << kept;
        QTest::newRow("session as object")
            << 1 << QByteArray(R"({"locked":false,"command_uuid":"c","session":{}})") << 1 << kept;
        QTest::newRow("same record") << 1 << kLocked << 1 << kept;
        QTest::newRow("new session only")
            << 1 << QByteArray(R"({"locked":true,"command_uuid":"cmd-1","message":"m","session":"other"})") << 1
            << kept;
        QTest::newRow("new message") << 1 << record(R"("locked":true,"command_uuid":"cmd-1","message":"m2")") << 1
                                     << u"m2"_s;
        QTest::newRow("message emptied") << 1 << record(R"("locked":true,"command_uuid":"cmd-1","message":"")") << 1
                                         << u""_s;
        QTest::newRow("message dropped") << 1 << record(R"("locked":true,"command_uuid":"cmd-1")") << 1 << u""_s;
        QTest::newRow("new command") << 1 << record(R"("locked":true,"command_uuid":"cmd-2","message":"m")") << 1
                                     << u"m"_s;
        QTest::newRow("screen added") << 1 << kLocked << 2 << u"m"_s;
        QTest::newRow("unlocked, nulls absent")
            << 1 << QByteArray(R"({"locked":false,"command_uuid":"c","message":null,"url":null})") << 0 << kept;
        QTest::newRow("unlocked, no screen") << 0 << record(R"("locked":false,"command_uuid":"cmd-1")") << 0 << kept;
    }
    void nextFile()
    {
        QFETCH(int, screens);
        QFETCH(QByteArray, next);
        QFETCH(int, open);
        QFETCH(QString, shown);
        m_screens->screenList.resize(screens, QRect(1024, 0, 640, 480));
        tick(kLocked);
        QCOMPARE(m_lockdown->current, Lockdown::Locked);
        QCOMPARE(m_api->sent.size(), size_t(1)); // presence, also with nothing to show
        const auto first = m_screens->openWindows();
        m_screens->screenList.resize(std::max(screens, open), QRect(1024, 0, 640, 480));
        tick(next);
        tick(next);
        QCOMPARE(openCount(), size_t(open));
        QCOMPARE(m_lockdown->current, open ? Lockdown::Locked : Lockdown::Custom);
        if (open) {
            QCOMPARE(first[0]->open, shown.isNull());
            QCOMPARE(m_screens->openWindows()[0]->message, shown.isNull() ? u"m"_s : shown);
        }
    }

    void lockCoversEveryScreenAndReportsPresence()
    {
        m_screens->screenList = { QRect(0, 0, 800, 600), QRect(800, 0, 1920, 1080) };
        m_lock->setAboveLoginWindow(true);
        const QByteArray locked = record(R"("locked":true,"command_uuid":"cmd-42","message":"Call IT\nExt. 42")");
        tick(locked);
        const auto open = m_screens->openWindows();
        QCOMPARE(open.size(), size_t(2));
        QCOMPARE(open[1]->frame, QRect(800, 0, 1920, 1080));
        QCOMPARE(open[1]->message, u"Call IT\nExt. 42"_s);
        QVERIFY(open[0]->aboveLoginWindow && open[1]->aboveLoginWindow);
        QVERIFY(open[0]->key && !open[1]->key);
        QCOMPARE(m_lockdown->keyWindow, quintptr(101));

        // Every tick refits the windows and reports presence again, without rebuilding.
        m_screens->screenList[1] = QRect(800, 0, 1280, 1024);
        tick(locked);
        QCOMPARE(m_screens->created.size(), size_t(2));
        QCOMPARE(open[1]->frame, QRect(800, 0, 1280, 1024));
        QCOMPARE(m_api->sent.size(), size_t(2));
        for (const auto &sent : m_api->sent)
            QCOMPARE(sent.body, (QJsonObject { { u"command_uuid"_s, u"cmd-42"_s } }));
        for (int i = 0; i < 2; ++i)
            tick(record(R"("locked":false,"command_uuid":"cmd-42")"));
        QCOMPARE(m_api->sent.size(), size_t(2)); // no presence while unlocked
    }

    // Another client holding the keyboard is asked again well before the next tick (none runs
    // here), while the lock windows stay up.
    void refusedGrabIsRetriedSoon()
    {
        m_lockdown->refusals = 3;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"another client holds"_s)); // once
        QTest::failOnWarning(QRegularExpression(u"another client holds"_s));
        tick(kLocked);
        QCOMPARE(m_lockdown->current, Lockdown::Custom);
        QCOMPARE(openCount(), size_t(1));
        QTRY_COMPARE(m_lockdown->current, Lockdown::Locked);
        QCOMPARE(m_lockdown->keyWindow, quintptr(101));
        QCOMPARE(openCount(), size_t(1));
    }

    // Where presence and PINs go: only http on 127.0.0.1 with a port, no user, under the root,
    // with a session that can travel in a header. Otherwise nothing is sent, the pad hears
    // "no" at once and the lock stays.
    void addressRule_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("session");
        QTest::addColumn<QString>("sentTo"); // empty: nothing is sent
        using Row = std::array<const char *, 3>;
        for (const auto &[url, session, to] :
            std::initializer_list<Row> { { "http://127.0.0.1:8123", "s3cret", "http://127.0.0.1:8123/presence" },
                { "http://127.0.0.1:8123/api/v1?x=1#f", "s3cret", "http://127.0.0.1:8123/presence" },
                { "http://127.0.0.1:08123/", "s3cret", "http://127.0.0.1:8123/presence" },
                { "https://127.0.0.1:8123", "s3cret", "" }, { "HTTP://127.0.0.1:8123", "s3cret", "" },
                { "http://localhost:8123", "s3cret", "" }, { "http://127.0.0.2:8123", "s3cret", "" },
                { "http://[::1]:8123", "s3cret", "" }, { "http://127.0.0.1/", "s3cret", "" },
                { "http://127.0.0.1:0", "s3cret", "" }, { "http://127.0.0.1:65536", "s3cret", "" },
                { "http://agent@127.0.0.1:8123", "s3cret", "" },
                { "http://127.0.0.1:80@evil.example:8123", "s3cret", "" }, { "http://127.0.0.1:8123", nullptr, "" },
                { "http://127.0.0.1:8123", "s\\r\\nX: y", "" }, { "http://127.0.0.1:8123", "a\\u0000b", "" } })
            QTest::addRow("%s %s", url, session ? session : "(no session)")
                << QString::fromUtf8(url) << QString::fromUtf8(session) << QString::fromUtf8(to);
    }
    // Where presence and PINs go: only http on 127.0.0.1 with a port, no user, under the root,
    // with a session that can travel in a header. Otherwise nothing is sent and the pad hears
    // "no" at once.
    void addressRule()
    {
        QFETCH(QString, url);
        QFETCH(QString, session);
        QFETCH(QString, sentTo);
        const QString members = session.isNull() ? QString() : u",\"session\":\""_s + session + u'"';
        tick(u"{\"locked\":true,\"command_uuid\":\"c\",\"url\":\"%1\"%2}"_s.arg(url, members).toUtf8());
        submit(u"123456"_s);
        if (sentTo.isEmpty()) {
            QCOMPARE(m_answer, std::optional(false));
            QCOMPARE(m_api->sent.size(), size_t(0));
            return;
        }
        const QNetworkRequest &presence = m_api->sent.at(0).request;
        QCOMPARE(presence.url(), QUrl(sentTo));
        QCOMPARE(presence.rawHeader("X-Pelk-Session"), QByteArray("s3cret"));
        QCOMPARE(presence.rawHeader("Content-Type"), QByteArray("application/json"));
    }

    // The pad's answer over real HTTP: only a 200 from the agent is a yes, a silent agent is a
    // no after the timeout, and a yes shows the unlock the agent wrote at once (no tick runs).
    void pinAnswer_data()
    {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("right PIN") << u"246810"_s << 0 << true;
        QTest::newRow("wrong PIN") << u"135790"_s << 0 << false;
        QTest::newRow("silent past the timeout") << u"246810"_s << 6000 << false;
    }
    void pinAnswer()
    {
        QFETCH(QString, pin);
        QFETCH(int, delayMs);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        agentsim::AgentSimulator sim(dir.path());
        boundary::NetworkApiRequester requester;
        lock::ManagedLockController controller(
            *m_screens, *m_lockdown, requester, sim.filePath(agentsim::AgentFileKind::Lock));
        sim.setPin(u"246810"_s);
        sim.setOverride(Endpoint::Unlock, { {}, {}, delayMs, false });
        QVERIFY(sim.listen() && sim.lock(u"cmd-1"_s));
        controller.refresh();
        QTRY_COMPARE(sim.requestsTo(Endpoint::Presence).size(), 1);
        QCOMPARE(sim.requestsTo(Endpoint::Presence)[0].status, 200);
        submit(pin);
        QTRY_VERIFY_WITH_TIMEOUT(m_answer.has_value(), 15000);
        QCOMPARE(*m_answer, accepted);
        QCOMPARE(openCount(), size_t(accepted ? 0 : 1));
    }

    void completionAfterControllerIsGoneIsHarmless()
    {
        tick(kLocked);
        submit(u"123456"_s);
        m_lock.reset();
        m_api->answer(1, true);
        m_api->answer(0, true);
        QCOMPARE(m_answer, std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestLockController)
#include "test_lock_controller.moc"
