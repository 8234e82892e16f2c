// Remote support through fakes: the desktop state record, the window's wording, the key names and
// the controller (what it asks the agent, which windows it shows, what it captures and posts).

#include "fakes/FakeApiRequester.h"
#include "fakes/FakeClock.h"
#include "platform/ConsoleSession.h"
#include "support/KeyTable.h"
#include "support/RemoteSupportController.h"
#include "support/SupportWindows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace pelk;
using namespace pelk::platform;
using namespace pelk::support;
using Lookup = std::function<void(std::optional<MainDisplay>)>;
using Shot = std::function<void(std::optional<QByteArray>)>;

namespace {

// JSON written with single quotes, for short tables.
QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

// An input event: a move, sequence 1 and a future expiry unless it says otherwise.
QJsonObject input(const char *text)
{
    QJsonObject event = json("{'type':'move','sequence':1,'expires_at':1777627801}"); // the fake clock's start + 1
    const QJsonObject given = json(text);
    for (auto it = given.begin(); it != given.end(); ++it)
        event.insert(it.key(), it.value());
    return event;
}

// A started controller whose every service is this fixture: the test sets what the platform
// answers, answers each display lookup, capture and request itself, and reads what was posted
// (one line of text per event, e.g. "LeftDown 10,20 1 Left") and shown.
struct Fixture : ConsoleSession, ScreenCapture, InputInjector, PanelPresenter, NoticePresenter {
    struct Panel : SupportPanel {
        explicit Panel(int &shown) : alive(++shown) { }
        ~Panel() override { --alive; }
        int &alive;
    };
    Properties console;
    bool shareable = true, capturable = true, controllable = true;
    std::optional<QRect> bounds = QRect(0, 0, 1440, 900);
    std::vector<Lookup> lookups;
    std::vector<std::pair<QSize, Shot>> captures;
    QStringList posted;
    int panelsShown = 0, panelsCreated = 0; // alive now, ever
    std::function<void()> closePanel;
    std::vector<std::pair<QString, std::function<void()>>> notices; // informative text, closed
    QTemporaryDir dir;
    fakes::FakeApiRequester requester;
    fakes::FakeClock clock;
    RemoteSupportController controller { { *this, *this, *this, *this, *this, requester, clock },
        dir.filePath(u"desktop.json"_s) };

    Fixture() { controller.start(); }

    Properties properties() override { return console; }
    bool isShareableSession() override { return shareable; }
    bool capturePermitted() override { return capturable; }
    std::optional<QRect> mainDisplayBounds() override { return bounds; }
    void findMainDisplay(Lookup done) override { lookups.push_back(std::move(done)); }
    void captureJpeg(const MainDisplay &, QSize size, int, Shot done) override { captures.emplace_back(size, done); }
    bool controlPermitted() override { return controllable; }
    bool postMouse(MouseEvent kind, QPointF at, int clicks, Button button) override
    {
        static const char *const kinds[] = { "LeftDown", "LeftUp", "RightDown", "RightUp", "Moved", "LeftDragged" };
        posted << u"%1 %2,%3 %4 %5"_s.arg(QLatin1StringView(kinds[int(kind)]), QString::number(at.x()),
            QString::number(at.y()), QString::number(clicks), button == Button::Left ? u"Left"_s : u"Right"_s);
        return true;
    }
    bool postScroll(qint32 lines) override { return posted << u"Scroll %1"_s.arg(lines), true; }
    bool postKey(quint32 keysym, Modifiers modifiers, bool down) override
    {
        posted << u"Key%1 0x%2 %3"_s.arg(down ? u"Down"_s : u"Up"_s).arg(keysym, 0, 16).arg(int(modifiers));
        return true;
    }
    std::unique_ptr<SupportPanel> showPanel(SupportModel &, std::function<void()> close) override
    {
        ++panelsCreated;
        closePanel = std::move(close);
        return std::make_unique<Panel>(panelsShown);
    }
    void activate() override { }
    void showNotice(const QString &, const QString &informative, const QString &, std::function<void()> closed) override
    {
        notices.emplace_back(informative, std::move(closed));
    }

    // Each answered once: a second answer to the same lookup, capture or notice throws.
    void answerLookup(size_t i, std::optional<QRect> found)
    {
        std::exchange(lookups.at(i), {})(found ? std::optional(MainDisplay { 1, *found }) : std::nullopt);
    }
    void answerCapture(size_t i, std::optional<QByteArray> jpeg) { std::exchange(captures.at(i).second, {})(jpeg); }

    static QJsonObject offer(const QString &id = u"s1"_s, const QString &mode = u"control"_s)
    {
        return { { "session_id"_L1, id }, { "technician"_L1, u"Dana"_s }, { "mode"_L1, mode } };
    }
    // The desktop file; an offer expires in ten minutes.
    void write(std::optional<QJsonObject> support, const QJsonObject &restart = {},
        const QString &url = u"http://127.0.0.1:7777"_s)
    {
        QJsonObject root { { "url"_L1, url }, { "session"_L1, u"tok"_s } };
        if (support) {
            support->insert("expires_at"_L1, clock.now().toSecsSinceEpoch() + 600);
            root.insert("support"_L1, *support);
        }
        if (!restart.isEmpty())
            root.insert("restart"_L1, restart);
        writeRaw(QJsonDocument(root).toJson());
    }
    void writeRaw(const QByteArray &bytes)
    {
        QSaveFile file(dir.filePath(u"desktop.json"_s));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit());
    }
    QStringList actions() const
    {
        QStringList all;
        for (const auto &sent : requester.sent)
            all << sent.body.value("action"_L1).toString();
        return all;
    }
    // Answers the latest request with a status word and events.
    void answer(const QString &status, const QJsonArray &events = {})
    {
        const QJsonObject body { { "status"_L1, status }, { "events"_L1, events } };
        requester.answerBody(requester.sent.size() - 1, QJsonDocument(body).toJson());
    }
    // Offer shown, consent given and confirmed: sharing, nothing in flight.
    void startSharing(const QString &mode = u"control"_s)
    {
        write(offer(u"s1"_s, mode));
        controller.tick();
        answer(u"requested"_s);
        controller.model().allow();
        answerLookup(lookups.size() - 1, QRect(0, 0, 1440, 900));
        answer(u"active"_s);
    }
    // One frame goes out and the agent's answer carries these events.
    void frame(const QJsonArray &events)
    {
        controller.tick();
        answerCapture(captures.size() - 1, QByteArray("jpeg"));
        answer(u"active"_s, events);
    }
};

} // namespace

class TestSupport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every field read is checked through the controller below; here, what makes the record unreadable.
    void decodeRejectsMissingKeysAndWrongTypes()
    {
        const char *const rejected[] = { "{'url':'u'}", "{'url':'u','session':'t','support':[]}",
            "{'url':'u','session':'t','support':{'session_id':'s','technician':'T','mode':'v'}}",
            "{'url':'u','session':'t','restart':{'id':1,'application':'A'}}" };
        for (const char *text : rejected)
            QVERIFY2(!DesktopState::decode(QByteArray(text).replace('\'', '"')), text);
        QVERIFY(DesktopState::decode(R"({"url":"u","session":"t","support":null,"restart":null,"x":1})"));
    }

    void wording()
    {
        SupportModel model;
        model.setTechnician(u"Ana"_s);
        const auto texts = [&] {
            return QStringList { model.title(), model.sentence(), model.stopLabel(), model.allowLabel() }.join(u'|');
        };
        model.setMode(u"control"_s);
        QCOMPARE(texts(),
            u"Remote support request|Ana is requesting permission to view your main display and control your keyboard and mouse.|Decline|Allow view and control"_s);
        model.setActive(true);
        QCOMPARE(texts(),
            u"Your screen is being shared|Ana can see your main display and use your keyboard and mouse.|Stop sharing|Allow view and control"_s);
        model.setMode(u"Control"_s); // only "control" itself lets the technician use the keyboard and mouse
        QCOMPARE(
            texts(), u"Your screen is being shared|Ana can see your main display.|Stop sharing|Allow screen sharing"_s);
        model.setActive(false);
        model.setBusy(true);
        QCOMPARE(texts(),
            u"Remote support request|Ana is requesting permission to view your main display.|Decline|Connecting\u2026"_s);
    }

    void keyNamesMapToUsKeysyms()
    {
        const std::pair<QString, quint32> rows[]
            = { { u"KeyA"_s, 'a' }, { u"KeyZ"_s, 'z' }, { u"Digit0"_s, '0' }, { u"Digit9"_s, '9' }, { u"F1"_s, 0xffbe },
                  { u"F12"_s, 0xffc9 }, { u"Backspace"_s, 0xff08 }, { u"Delete"_s, 0xffff }, { u"Enter"_s, 0xff0d },
                  { u"PageUp"_s, 0xff55 }, { u"ArrowDown"_s, 0xff54 }, { u"Backquote"_s, '`' }, { u"Quote"_s, '\'' } };
        for (const auto &[name, keysym] : rows)
            QVERIFY2(keys().value(name) == keysym, qPrintable(name));
        QCOMPARE(keys().size(), 73); // A to Z among them
    }

    void consentFlow()
    {
        Fixture f;
        auto &model = f.controller.model();
        f.write(Fixture::offer());
        f.controller.tick();
        model.allow(); // the poll is out: consent waits for a tick after its answer
        f.controller.tick();
        QVERIFY(f.panelsShown == 1 && model.technician() == u"Dana"_s);
        QCOMPARE(f.requester.sent.at(0).request.rawHeader("X-Pelk-Session"), QByteArray("tok"));
        QVERIFY(f.lookups.empty());
        f.answer(u"requested"_s);
        f.controller.tick();
        f.controller.tick(); // busy: nothing goes out
        QCOMPARE(f.requester.sent.size(), size_t(1));
        f.answerLookup(0, std::nullopt);
        QVERIFY(model.error() == u"The main display is unavailable."_s && !model.busy());
        model.allow(); // the error stays while connecting
        QVERIFY(model.busy() && !model.error().isEmpty());
        f.answerLookup(1, QRect(0, 0, 800, 600));
        f.answer(u"requested"_s); // back to consent
        QVERIFY(!model.busy() && !model.active());
        model.allow();
        f.answerLookup(2, QRect(0, 0, 1440, 900));
        f.answer(u"active"_s);
        QVERIFY(model.active() && model.error().isEmpty());
        f.bounds = QRect(0, 0, 2560, 1440); // pictures are sized as the display is now
        f.controller.tick();
        f.controller.tick(); // the capture is still out
        QVERIFY(f.captures.size() == 1 && f.captures[0].first == QSize(1440, 810));
        f.answerCapture(0, QByteArray(400000, 'j')); // the limit itself is sent
        QCOMPARE(f.requester.sent.back().body.value("jpeg"_L1).toString().size(), 533336);
        model.stop();
        f.controller.tick(); // a stopped offer is not shown again
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s, u"accept"_s, u"frame"_s, u"stop"_s }));
        QVERIFY(f.panelsShown == 0 && f.panelsCreated == 1);
    }

    void pictureKeepsAspectWithin1440()
    {
        const std::pair<QSizeF, QSize> rows[] = { { { 2560, 1440 }, { 1440, 810 } }, { { 1000, 3000 }, { 480, 1440 } },
            { { 1440, 900 }, { 1440, 900 } }, { { 100000, 10 }, { 1440, 1 } } };
        for (const auto &[display, picture] : rows)
            QCOMPARE(RemoteSupportController::pictureSize(display), picture);
    }

    void sessionEnds_data()
    {
        QTest::addColumn<int>("cause");
        const char *const rows[] = { "oversized jpeg", "capture failed", "frame unanswered", "frame answer ended",
            "desktop file gone", "capture no longer permitted", "screen locked", "session ended", "off the console",
            "offer withdrawn", "offer expired" };
        for (int i = 0; i < int(std::size(rows)); ++i)
            QTest::newRow(rows[i]) << i;
    }
    // A failure stops, tells the agent and dismisses the offer; a withdrawn or expired one ends silently.
    void sessionEnds()
    {
        QFETCH(int, cause);
        const bool stops = cause < 9;
        Fixture f;
        f.startSharing();
        f.controller.tick();
        f.answerCapture(0, cause == 1 ? std::nullopt : std::optional(QByteArray(cause == 0 ? 400001 : 4, 'j')));
        if (cause == 2)
            f.requester.answerBody(2, std::nullopt);
        else if (cause > 2)
            f.answer(cause == 3 ? u"ended"_s : u"active"_s);
        if (cause == 4)
            QVERIFY(QFile::remove(f.dir.filePath(u"desktop.json"_s)));
        f.capturable = cause != 5;
        f.console = { cause == 6, cause != 8 };
        if (cause == 7)
            Q_EMIT f.sessionEnded();
        if (cause == 9)
            f.write(std::nullopt);
        f.clock.advance(cause == 10 ? 600 : 0); // the expiry second itself counts as expired
        f.controller.tick();
        QCOMPARE(f.actions().last(), stops ? u"stop"_s : u"frame"_s);
        QCOMPARE(f.panelsShown, 0);
        f.capturable = true;
        f.console = {};
        if (!stops)
            f.write(Fixture::offer()); // not dismissed: offered again, it is shown again
        f.controller.tick();
        QCOMPARE(f.panelsCreated, stops ? 1 : 2);
    }

    // Decline while the poll is out, a stale answer, the close button; then an unreadable file keeps
    // the last good state, and an address off loopback dismisses the offer unsent.
    void declinesStaleAnswersAndBadFiles()
    {
        Fixture f;
        f.write(Fixture::offer());
        f.controller.tick();
        f.controller.model().stop(); // Decline while the poll is out
        f.write(Fixture::offer(u"s2"_s, u"view"_s));
        f.controller.tick();
        QCOMPARE(f.controller.model().mode(), u"view"_s);
        f.requester.answerBody(0, std::nullopt); // would end s2 were it not stale
        f.controller.tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s, u"poll"_s }));
        f.closePanel();
        QCOMPARE(f.requester.sent.back().body.value("session_id"_L1).toString(), u"s2"_s);
        QVERIFY(f.actions().last() == u"decline"_s && f.panelsShown == 0);
        f.write(Fixture::offer(u"s3"_s));
        f.controller.tick();
        f.answer(u"requested"_s);
        f.writeRaw("{\"url\": 1}");
        f.controller.tick();
        QCOMPARE(f.panelsShown, 1);
        f.controller.shutdown();
        f.controller.shutdown(); // nothing shown: nothing sent
        QCOMPARE(f.actions().mid(4), (QStringList { u"poll"_s, u"decline"_s }));
        QCOMPARE(f.requester.sent.back().request.url().toString(), u"http://127.0.0.1:7777/support"_s);
        f.write(Fixture::offer(u"s4"_s), {}, u"http://localhost:7777"_s);
        f.controller.tick();
        f.controller.tick();
        QVERIFY(f.requester.sent.size() == 6 && f.panelsCreated == 4 && f.panelsShown == 0);
    }

    void allowChecksInOrder()
    {
        // Shareable session, capture permitted, mode; the error the user sees (none: the display is looked up).
        const std::tuple<bool, bool, QString, QString> rows[]
            = { { false, false, u"control"_s, u"Wayland"_s }, { true, false, u"control"_s, u"MIT-SHM"_s },
                  { true, true, u"control"_s, u"XTEST"_s }, { true, true, u"view"_s, QString() } };
        for (const auto &[shareable, capturable, mode, error] : rows) {
            Fixture f;
            f.shareable = shareable;
            f.capturable = capturable;
            f.controllable = false;
            f.write(Fixture::offer(u"s1"_s, mode));
            f.controller.tick();
            f.answer(u"requested"_s);
            f.controller.model().allow();
            QVERIFY(error.isEmpty() ? f.controller.model().error().isEmpty()
                                    : f.controller.model().error().contains(error));
            QCOMPARE(f.lookups.size(), size_t(error.isEmpty() ? 1 : 0));
        }
    }

    void restartNoticeWaitsForTheOfferAndHoldsTheTick()
    {
        Fixture f;
        const QJsonObject restart = json("{'id':'r1','application':'Firefox'}");
        f.write(Fixture::offer(), restart);
        f.controller.tick();
        QVERIFY(f.notices.empty());
        f.write(std::nullopt, restart);
        f.controller.tick();
        QVERIFY(f.notices.size() == 1 && f.notices[0].first.startsWith(u"Firefox was changed by your IT team"_s));
        QCOMPARE(f.panelsShown, 1); // the rest of the tick waits for the notice
        f.write(Fixture::offer(u"s9"_s), restart);
        f.controller.tick();
        QCOMPARE(f.panelsCreated, 1);
        std::exchange(f.notices[0].second, {})();
        QCOMPARE(f.panelsShown, 0); // the held tick goes on with the file it had read
        f.write(std::nullopt, restart);
        f.controller.tick();
        f.write(std::nullopt, json("{'id':'r2','application':'Zoom'}"));
        f.controller.tick();
        QVERIFY(f.notices.size() == 2 && f.notices[1].first.startsWith(u"Zoom"_s)); // once per id
    }

    void answerStatusRules_data()
    {
        QTest::addColumn<QString>("sharing"); // the mode shared; none: only offered
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("ending");
        const QByteArray move = ",'events':[{'type':'move','sequence':1,'expires_at':1e10}]}";
        QTest::newRow("offer, active") << QString() << "{'status':'active'" + move << QString();
        QTest::newRow("offer, ended") << QString() << QByteArray("{'status':'ended'}") << u"decline"_s;
        QTest::newRow("offer, empty object") << QString() << QByteArray("{}") << u"decline"_s;
        QTest::newRow("offer, not json") << QString() << QByteArray("requested") << u"decline"_s;
        QTest::newRow("sharing, status number") << u"control"_s << QByteArray("{'status':1}") << u"stop"_s;
        QTest::newRow("sharing, requested") << u"control"_s << "{'status':'requested'" + move << QString();
        QTest::newRow("sharing, Active") << u"control"_s << "{'status':'Active'" + move << u"stop"_s;
        QTest::newRow("sharing View, active") << u"View"_s << "{'status':'active'" + move << QString();
    }
    void answerStatusRules()
    {
        QFETCH(QString, sharing);
        QFETCH(QByteArray, body);
        QFETCH(QString, ending);
        Fixture f;
        f.write(Fixture::offer());
        if (!sharing.isEmpty()) {
            f.startSharing(sharing);
            f.controller.tick();
            f.answerCapture(0, QByteArray("jpeg"));
        }
        f.controller.tick();
        const QStringList before = f.actions();
        f.requester.answerBody(before.size() - 1, body.replace('\'', '"'));
        QVERIFY(f.posted.isEmpty()); // events count only while sharing control and active
        QCOMPARE(f.actions(), ending.isEmpty() ? before : before + QStringList { ending });
        QCOMPARE(f.panelsShown, ending.isEmpty() ? 1 : 0);
    }

    void eventsPost_data()
    {
        QTest::addColumn<QJsonObject>("event");
        QTest::addColumn<QString>("posted");
        const auto row = [](const char *name, const char *event, const char *posted) {
            QTest::newRow(name) << input(event) << QString::fromLatin1(posted);
        };
        row("to the last pixel", "{'type':'move','x':1,'y':1}", "Moved 1449,919 1 Left");
        row("clamped, garbage", "{'type':'move','x':-0.5,'y':'1'}", "Moved 10,20 1 Left");
        row("beyond the edge", "{'type':'move','x':0.5,'y':7}", "Moved 729.5,919 1 Left");
        row("double click", "{'type':'double_click'}",
            "LeftDown 10,20 1 Left; LeftUp 10,20 1 Left; LeftDown 10,20 2 Left; LeftUp 10,20 2 Left");
        row("right click", "{'type':'click','button':'right'}", "RightDown 10,20 1 Right; RightUp 10,20 1 Right");
        row("right drag uses left kinds", "{'type':'drag','button':'right','to_x':1}",
            "LeftDown 10,20 1 Right; LeftDragged 1449,20 1 Right; LeftUp 1449,20 1 Right");
        row("scroll down", "{'type':'scroll','delta':-3}", "Moved 10,20 1 Left; Scroll -3");
        row("huge scroll clipped", "{'type':'scroll','delta':1e12}", "Moved 10,20 1 Left; Scroll 100");
        row("key with meta", "{'type':'key','key':'KeyC','modifiers':['meta']}", "KeyDown 0x63 8; KeyUp 0x63 8");
        row("modifiers combine", "{'type':'key','key':'Enter','modifiers':['shift','ctrl','fn']}",
            "KeyDown 0xff0d 3; KeyUp 0xff0d 3");
        row("malformed modifiers", "{'type':'key','key':'Delete','modifiers':['alt',3]}",
            "KeyDown 0xffff 0; KeyUp 0xffff 0");
        row("unknown key", "{'type':'key','key':'Hyper'}", "");
        row("unknown type", "{'type':'wiggle'}", "");
        row("expiring this instant", "{'expires_at':1777627800}", "");
        row("no expiry", "{'expires_at':null}", "");
        row("sequence zero", "{'sequence':0}", "");
    }
    void eventsPost()
    {
        QFETCH(QJsonObject, event);
        Fixture f;
        f.startSharing();
        f.bounds = QRect(10, 20, 1440, 900);
        f.frame({ event });
        QTEST(f.posted.join(u"; "_s), "posted");
    }

    // Then a new offer comes while sharing.
    void sequencesOnlyMoveForward()
    {
        Fixture f;
        f.startSharing();
        const QJsonArray first { input("{'sequence':5}"), input("{'sequence':4}"),
            input("{'sequence':9,'expires_at':1777627800}") };
        f.frame(first);
        f.frame(first); // the same answer again applies nothing
        f.frame({ input("{'sequence':7}") }); // the expired 9 did not count
        QCOMPARE(f.posted.size(), 2);
        f.controller.tick();
        f.answerCapture(3, QByteArray("jpeg"));
        f.controllable = false; // lost while the frame was out: consumed without effect
        f.answer(u"active"_s, { input("{'sequence':8}") });
        f.controllable = true;
        f.frame({ input("{'sequence':8}") });
        f.frame({ input("{'sequence':20}"), 3 }); // one stray element: no list at all
        QCOMPARE(f.posted.size(), 2);
        f.frame({ input("{'sequence':9}") });
        QCOMPARE(f.posted.size(), 3);
        f.write(Fixture::offer(u"s2"_s)); // a new offer replaces the shared one: polled, never captured
        f.controller.tick();
        f.answer(u"active"_s);
        f.controller.tick();
        QCOMPARE(f.actions().mid(f.actions().size() - 3), (QStringList { u"frame"_s, u"poll"_s, u"poll"_s }));
        QVERIFY(f.panelsCreated == 2 && f.panelsShown == 1 && f.captures.size() == 7); // as many as frames
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "test_support.moc"
