#include "AgentSimulator.h"
#include "fakes/FakeApiRequester.h"
#include "fakes/FakeDesktopLockdown.h"
#include "lock/ManagedLockController.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <deque>

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

// A lock window as the user meets it, and its PIN pad to drive.
struct Window {
    QRect frame;
    QString message;
    bool above;
    lock::PinSubmit submit;
    bool key = false, open = true, padShown = false;
};

// Screens set by the test; every window made is kept, so the test sees which are still open.
struct Screens : lock::LockScreens {
    struct Surface : lock::LockSurface {
        Surface(Window &window, quintptr handle) : w(window), id(handle) { }
        ~Surface() override { w.open = false; }
        void setFrame(const QRect &frame) override { w.frame = frame; }
        void orderFront() override { }
        void makeKeyAndOrderFront() override { w.key = true; }
        void setInputHeld(bool held) override { w.padShown = held; }
        quintptr nativeHandle() const override { return id; }
        Window &w;
        const quintptr id;
    };
    QList<QRect> list { QRect(0, 0, 1024, 768) };
    std::deque<Window> created;

    QList<QRect> screens() const override { return list; }
    std::unique_ptr<lock::LockSurface> createWindow(
        const QRect &frame, const QString &message, bool above, lock::PinSubmit submit) override
    {
        created.push_back(Window { frame, message, above, std::move(submit) });
        return std::make_unique<Surface>(created.back(), created.size() + 100);
    }
    qsizetype openCount() const { return std::ranges::count(created, true, &Window::open); }
};

// A controller on fakes, following a lock file the test writes.
struct Rig {
    QTemporaryDir dir;
    Screens screens;
    Lockdown lockdown;
    fakes::FakeApiRequester api;
    std::optional<lock::ManagedLockController> lock { std::in_place, screens, lockdown, api, path() };
    std::optional<bool> answer;

    QString path() const { return dir.filePath(u"agent-lock.json"_s); }
    // Writes the lock file (empty bytes remove it) and lets the controller read it.
    void tick(const QByteArray &bytes)
    {
        QFile f(path());
        if (bytes.isEmpty())
            f.remove();
        else
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();
        lock->refresh();
    }
    std::optional<bool> submit(const QString &pin, int timeoutMs = 0)
    {
        answer.reset();
        screens.created.back().submit(pin, [this](bool ok) { answer = ok; });
        return QTest::qWaitFor([this] { return answer.has_value(); }, timeoutMs) ? answer : std::nullopt;
    }
};

using NextFileRow = std::tuple<const char *, int, QByteArray, int, QString>;
using AddressRow = std::array<const char *, 3>;

} // namespace

Q_DECLARE_METATYPE(NextFileRow)
Q_DECLARE_METATYPE(AddressRow)

class TestLockController : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Locked with message "m" on some screens, then the next file: only a whole valid record with
    // locked false unlocks (and gives the desktop back); a new command or message, or a screen
    // more, rebuilds the windows (with the message shown; null: the first windows stay).
    void nextFile_data()
    {
        QTest::addColumn<NextFileRow>("row");
        for (const NextFileRow &row : std::initializer_list<NextFileRow> { { "missing", 1, {}, 1, {} },
                 { "truncated", 1, "{\"locked\":false,\"command_uu", 1, {} },
                 { "no command", 1, R"({"locked":false,"url":"x"})", 1, {} },
                 { "locked as text", 1, R"({"locked":"false","command_uuid":"c"})", 1, {} },
                 // Another reader would keep the first of two equal keys: the record is not decodable.
                 { "key repeated", 1, R"({"locked":true,"command_uuid":"c","locked":false})", 1, {} },
                 { "key repeated, escaped", 1, "{\"locked\":true,\"command_uuid\":\"c\",\"lo\\u0063ked\":false}", 1,
                     {} },
                 { "key repeated inside", 1, R"({"locked":false,"command_uuid":"c","x":[{"a":1,"a":2}]})", 1, {} },
                 { "equal keys apart", 1,
                     "{\"locked\":false,\"command_uuid\":\"c\",\"x\":{\"locked\":1},\"y\":\"\\\"locked\\\"\"}", 0, {} },
                 { "session as object", 1, R"({"locked":false,"command_uuid":"c","session":{}})", 1, {} },
                 { "same record", 1, kLocked, 1, {} },
                 { "new session only", 1, R"({"locked":true,"command_uuid":"cmd-1","message":"m","session":"x"})", 1,
                     {} },
                 { "new message", 1, record(R"("locked":true,"command_uuid":"cmd-1","message":"m2")"), 1, u"m2"_s },
                 { "message emptied", 1, record(R"("locked":true,"command_uuid":"cmd-1","message":"")"), 1, u""_s },
                 { "message dropped", 1, record(R"("locked":true,"command_uuid":"cmd-1")"), 1, u""_s },
                 { "new command", 1, record(R"("locked":true,"command_uuid":"cmd-2","message":"m")"), 1, u"m"_s },
                 { "screen added", 1, kLocked, 2, u"m"_s },
                 { "unlocked, nulls absent", 1, R"({"locked":false,"command_uuid":"c","message":null,"url":null})", 0,
                     {} },
                 { "unlocked, no screen", 0, record(R"("locked":false,"command_uuid":"cmd-1")"), 0, {} } })
            QTest::newRow(std::get<0>(row)) << row;
    }
    void nextFile()
    {
        QFETCH(NextFileRow, row);
        const auto &[name, screens, next, open, shown] = row;
        Rig r;
        r.screens.list.resize(screens, QRect(1024, 0, 640, 480));
        r.tick(kLocked);
        QCOMPARE(r.lockdown.current, Lockdown::Locked);
        QCOMPARE(r.api.sent.size(), size_t(1)); // presence, also with nothing to show
        r.screens.list.resize(std::max(screens, open), QRect(1024, 0, 640, 480));
        r.tick(next);
        r.tick(next);
        QCOMPARE(r.screens.openCount(), open);
        QCOMPARE(r.lockdown.current, open ? Lockdown::Locked : Lockdown::Custom);
        if (open) {
            QCOMPARE(r.screens.created.front().open, shown.isNull());
            QCOMPARE(r.screens.created.back().message, shown.isNull() ? u"m"_s : shown);
        }
    }

    // While another client holds the keyboard the lock asks again well before the next tick (none
    // runs here) and logs that once; the windows are up meanwhile, and the input then goes to the
    // first one.
    void lockCoversEveryScreenTakesInputAndReportsPresence()
    {
        Rig r;
        r.screens.list = { QRect(0, 0, 800, 600), QRect(800, 0, 1920, 1080) };
        r.lock->setAboveLoginWindow(true);
        r.lockdown.refusals = 3;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"another client holds"_s));
        QTest::failOnWarning(QRegularExpression(u"another client holds"_s));
        const QByteArray locked = record(R"("locked":true,"command_uuid":"cmd-42","message":"Call IT\nExt. 42")");
        r.tick(locked);
        QCOMPARE(r.lockdown.current, Lockdown::Custom);
        QCOMPARE(r.api.sent.size(), size_t(0)); // no presence and no PIN pad before the input is held
        QVERIFY(!r.screens.created[1].padShown);
        const auto &open = r.screens.created;
        QCOMPARE(r.screens.openCount(), 2);
        QCOMPARE(open[1].frame, QRect(800, 0, 1920, 1080));
        QVERIFY(open[0].above && open[1].above);
        QVERIFY(open[0].key && !open[1].key);
        QTRY_COMPARE(r.lockdown.current, Lockdown::Locked);
        QCOMPARE(r.lockdown.keyWindow, quintptr(101));
        QVERIFY(r.screens.created[1].padShown);

        // Every tick reports presence again, now that the input is held.
        r.tick(locked);
        QCOMPARE(r.api.sent.size(), size_t(1));
        for (const auto &sent : r.api.sent)
            QCOMPARE(sent.body, (QJsonObject { { u"command_uuid"_s, u"cmd-42"_s } }));
        for (int i = 0; i < 2; ++i)
            r.tick(record(R"("locked":false,"command_uuid":"cmd-42")"));
        QCOMPARE(r.api.sent.size(), size_t(1)); // no presence while unlocked
    }

    // The display's own screens win over the toolkit's list, and a change it reports is followed
    // at once (no tick runs): new windows for a screen more, a refit for a screen resized.
    void followsTheDisplay()
    {
        Rig r;
        r.lockdown.monitors = { QRect(0, 0, 1280, 800) };
        r.tick(kLocked);
        r.lockdown.monitors = { QRect(0, 0, 1920, 1200), QRect(1920, 0, 800, 600) };
        r.lockdown.changed();
        QCOMPARE(r.screens.openCount(), 2);
        QCOMPARE(r.lockdown.kept, (QList<quintptr> { 102, 103 }));
        r.lockdown.monitors[0] = QRect(0, 0, 2000, 1100);
        r.lockdown.changed();
        QCOMPARE(r.screens.created[1].frame, QRect(0, 0, 2000, 1100));
    }

    // Where presence and PINs go: only http on 127.0.0.1 with a port, no user, under the root,
    // with a session that can travel in a header. Otherwise nothing is sent and the pad hears
    // "no" at once.
    void addressRule_data()
    {
        QTest::addColumn<AddressRow>("row");
        const char *s = "s3cret", *to = "http://127.0.0.1:8123/presence";
        for (const AddressRow &row : std::initializer_list<AddressRow> { { "http://127.0.0.1:8123", s, to },
                 { "http://127.0.0.1:8123/api/v1?x=1#f", s, to }, { "http://127.0.0.1:08123/", s, to },
                 { "https://127.0.0.1:8123", s, "" }, { "HTTP://127.0.0.1:8123", s, "" },
                 { "http://localhost:8123", s, "" }, { "http://127.0.0.2:8123", s, "" }, { "http://[::1]:8123", s, "" },
                 { "http://127.0.0.1/", s, "" }, { "http://127.0.0.1:0", s, "" }, { "http://127.0.0.1:65536", s, "" },
                 { "http://agent@127.0.0.1:8123", s, "" }, { "http://127.0.0.1:80@evil.example:8123", s, "" },
                 { "http://127.0.0.1:8123", nullptr, "" }, { "http://127.0.0.1:8123", "s\\r\\nX: y", "" },
                 { "http://127.0.0.1:8123", "a\\u0000b", "" } })
            QTest::addRow("%s %s", row[0], row[1] ? row[1] : "(no session)") << row;
    }
    void addressRule()
    {
        QFETCH(AddressRow, row);
        const auto [url, session, sentTo] = row;
        const QByteArray members = session ? ",\"session\":\"" + QByteArray(session) + "\"" : QByteArray();
        Rig r;
        r.tick("{\"locked\":true,\"command_uuid\":\"c\",\"url\":\"" + QByteArray(url) + "\"" + members + "}");
        if (!*sentTo) {
            QCOMPARE(r.submit(u"123456"_s), std::optional(false));
            QCOMPARE(r.api.sent.size(), size_t(0));
            return;
        }
        const QNetworkRequest &presence = r.api.sent.at(0).request;
        QCOMPARE(presence.url(), QUrl(QString::fromUtf8(sentTo)));
        QCOMPARE(presence.rawHeader("X-Pelk-Session"), QByteArray("s3cret"));
        QCOMPARE(presence.rawHeader("Content-Type"), QByteArray("application/json"));

        // A PIN answered after the controller is gone reaches no one.
        r.submit(u"123456"_s);
        r.lock.reset();
        r.api.answer(1, true);
        r.api.answer(0, true);
        QCOMPARE(r.answer, std::nullopt);
    }

    // The pad's answer over real HTTP: only a 200 from the agent is a yes, and it shows the unlock
    // the agent wrote at once (no tick runs); a silent agent is a no after the timeout.
    void pinAnswer()
    {
        Rig r;
        agentsim::AgentSimulator sim(r.dir.path());
        boundary::NetworkApiRequester requester;
        r.lock.emplace(r.screens, r.lockdown, requester, r.path());
        sim.setPin(u"246810"_s);
        QVERIFY(sim.listen() && sim.lock(u"cmd-1"_s));
        r.lock->refresh();
        QTRY_COMPARE(sim.requestsTo(Endpoint::Presence).size(), 1);
        QCOMPARE(sim.requestsTo(Endpoint::Presence)[0].status, 200);
        QCOMPARE(r.submit(u"135790"_s, 5000), std::optional(false));
        QCOMPARE(r.screens.openCount(), 1);
        QCOMPARE(r.submit(u"246810"_s, 5000), std::optional(true));
        QCOMPARE(r.screens.openCount(), 0);

        QVERIFY(sim.lock(u"cmd-1"_s));
        r.lock->refresh();
        sim.setOverride(Endpoint::Unlock, { {}, {}, 6000, false, 1 });
        QCOMPARE(r.submit(u"246810"_s, 15000), std::optional(false));
    }
};

QTEST_GUILESS_MAIN(TestLockController)
#include "test_lock_controller.moc"
