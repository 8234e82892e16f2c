// Remote support through fakes: the window's wording, the key names and the controller (what it
// asks the agent, which windows it shows, what it captures and posts, which desktop files it reads).

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
#include <QTimer>

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

// An input event: a move, sequence 1 and a future expiry (the fake clock's start + 1) unless it says otherwise.
QJsonObject input(const char *text)
{
    QVariantMap event = json("{'type':'move','sequence':1,'expires_at':1777627801}").toVariantMap();
    event.insert(json(text).toVariantMap());
    return QJsonObject::fromVariantMap(event);
}

// A started controller whose every service is this fixture: the test sets what the platform
// answers, answers the latest display lookup, capture and request itself, and reads what was
// posted (one line of text per event, e.g. "LeftDown 1,2 1 right") and shown.
struct Fixture : ConsoleSession, ScreenCapture, InputInjector, PanelPresenter, NoticePresenter {
    struct Panel : SupportPanel {
        explicit Panel(int &shown) : alive(++shown) { }
        ~Panel() override { --alive; }
        int &alive;
    };
    Properties console;
    bool shareable = true, capturable = true, controllable = true;
    std::optional<QRect> bounds = QRect(1, 2, 1440, 900);
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
        const QString name = u"LeftDown LeftUp RightDown RightUp Moved LeftDragged"_s.split(u' ').at(int(kind));
        return post(u"%1 %2,%3 %4%5"_s.arg(name).arg(at.x()).arg(at.y()).arg(clicks).arg(
            button == Button::Right ? u" right"_s : QString()));
    }
    bool postScroll(qint32 lines) override { return post(u"Scroll %1"_s.arg(lines)); }
    bool postKey(Key key, Modifiers modifiers, bool down) override
    {
        return post(u"Key%1 %2 %3"_s.arg(down ? u"Down"_s : u"Up"_s).arg(key.code).arg(int(modifiers)));
    }
    bool post(const QString &line) { return posted << line, true; }
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

    // Each answered once: a second answer to the same lookup or capture throws.
    void answerLookup(std::optional<MainDisplay> found) { std::exchange(lookups.back(), {})(found); }
    void answerCapture(std::optional<QByteArray> jpeg) { std::exchange(captures.back().second, {})(jpeg); }

    // An offer that expires in ten minutes.
    QJsonObject offer(const QString &id = u"s1"_s, const QString &mode = u"control"_s) const
    {
        return { { "session_id"_L1, id }, { "technician"_L1, u"Dana"_s }, { "mode"_L1, mode },
            { "expires_at"_L1, clock.now().toSecsSinceEpoch() + 600 } };
    }
    // The desktop file as the agent writes it: null for what is absent.
    void write(
        const QJsonValue &support, const QJsonValue &restart = {}, const QString &url = u"http://127.0.0.1:7777"_s)
    {
        const QJsonObject object { { "url"_L1, url }, { "session"_L1, u"tok"_s }, { "support"_L1, support },
            { "restart"_L1, restart } };
        const QByteArray bytes = QJsonDocument(object).toJson();
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
        answerLookup(MainDisplay { 1, QRect(0, 0, 1440, 900) });
        answer(u"active"_s);
    }
    // One frame goes out and the agent's answer carries these events.
    void frame(const QJsonArray &events, const QByteArray &jpeg = "jpeg")
    {
        controller.tick();
        answerCapture(jpeg);
        answer(u"active"_s, events);
    }
};

} // namespace

class TestSupport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wording()
    {
        SupportModel model;
        model.setTechnician(u"Ana"_s);
        model.setMode(u"control"_s);
        QCOMPARE(model.sentence(),
            u"Ana is requesting permission to view your main display and control your keyboard and mouse."_s);
        model.setActive(true);
        model.setMode(u"Control"_s); // only "control" itself lets the technician use the keyboard and mouse
        QCOMPARE(model.sentence(), u"Ana can see your main display."_s);
    }

    void everyKeyNameIsAKeyOfItsOwn()
    {
        QSet<quint16> codes;
        QSet<quint32> keysyms;
        for (const InputInjector::Key &key : keys()) {
            codes.insert(key.code);
            keysyms.insert(key.usKeysym);
        }
        QVERIFY(keys().size() == 73 && codes.size() == 73 && keysyms.size() == 73);
    }

    void consentFlow()
    {
        Fixture f;
        auto &model = f.controller.model();
        f.write(f.offer());
        f.controller.tick();
        model.allow(); // the poll is out: consent waits for a tick after its answer
        f.controller.tick();
        QVERIFY(f.panelsShown == 1 && model.technician() == u"Dana"_s && f.lookups.empty());
        f.answer(u"requested"_s);
        f.controller.tick();
        f.controller.tick(); // busy: nothing goes out
        f.answerLookup(std::nullopt);
        QVERIFY(model.error().contains(u"main display"_s) && !model.busy() && f.requester.sent.size() == 1);
        QStringList errors; // what Allow checks, in this order, before it looks the display up
        f.shareable = f.capturable = f.controllable = false;
        for (bool *check : { &f.shareable, &f.capturable, &f.controllable }) {
            model.allow();
            errors << model.error();
            *check = true;
        }
        QVERIFY(errors[0].contains(u"Wayland"_s) && errors[1].contains(u"MIT-SHM"_s) && errors[2].contains(u"XTEST"_s));
        model.allow(); // the error stays while connecting
        QVERIFY(model.busy() && !model.error().isEmpty() && f.lookups.size() == 2);
        f.answerLookup(MainDisplay { 1, QRect(0, 0, 800, 600) });
        f.answer(u"requested"_s); // back to consent
        QVERIFY(!model.busy() && !model.active());
        model.allow();
        f.answerLookup(MainDisplay { 1, QRect(0, 0, 1440, 900) });
        f.answer(u"active"_s);
        QVERIFY(model.active() && model.error().isEmpty());
        f.bounds = QRect(0, 0, 2560, 1440); // pictures are sized as the display is now
        f.controller.tick();
        f.controller.tick(); // the capture is still out
        QVERIFY(f.captures.size() == 1 && f.captures[0].first == QSize(1440, 810));
        f.answerCapture(QByteArray(400000, 'j')); // the limit itself is sent
        model.stop();
        f.controller.tick(); // a stopped offer is not shown again
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s, u"accept"_s, u"frame"_s, u"stop"_s }));
        QVERIFY(f.panelsShown == 0 && f.panelsCreated == 1);
    }

    void pictureKeepsAspectWithin1440()
    {
        const std::pair<QSizeF, QSize> rows[]
            = { { { 1000, 3000 }, { 480, 1440 } }, { { 1440, 900 }, { 1440, 900 } }, { { 100000, 10 }, { 1440, 1 } } };
        for (const auto &[display, picture] : rows)
            QCOMPARE(RemoteSupportController::pictureSize(display), picture);
    }

    void sessionEnds_data()
    {
        QTest::addColumn<int>("cause");
        const char *const rows[]
            = { "oversized jpeg", "capture failed", "desktop file gone", "capture no longer permitted", "screen locked",
                  "session ended", "off the console", "offer withdrawn", "offer expired" };
        for (int i = 0; i < int(std::size(rows)); ++i)
            QTest::newRow(rows[i]) << i;
    }
    // A failure stops, tells the agent and dismisses the offer; a withdrawn or expired one ends silently.
    void sessionEnds()
    {
        QFETCH(int, cause);
        const bool stops = cause < 7;
        Fixture f;
        f.startSharing();
        f.controller.tick();
        f.answerCapture(cause == 1 ? std::nullopt : std::optional(QByteArray(cause == 0 ? 400001 : 4, 'j')));
        if (cause > 1)
            f.answer(u"active"_s);
        if (cause == 2)
            QVERIFY(QFile::remove(f.dir.filePath(u"desktop.json"_s)));
        f.capturable = cause != 3;
        f.console = { cause == 4, cause != 6 };
        if (cause == 5)
            Q_EMIT f.sessionEnded();
        if (cause == 7)
            f.write({});
        f.clock.advance(cause == 8 ? 600 : 0); // the expiry second itself counts as expired
        f.controller.tick();
        QVERIFY(f.actions().last() == (stops ? u"stop"_s : u"frame"_s) && f.panelsShown == 0);
        f.console = {};
        if (!stops)
            f.write(f.offer()); // not dismissed: offered again, it is shown again
        f.controller.tick();
        QCOMPARE(f.panelsCreated, stops ? 1 : 2);
    }

    // Decline while the poll is out, a stale answer, the close button; then a file unreadable at any
    // level keeps the last good state, and an address off loopback dismisses the offer unsent.
    void declinesStaleAnswersAndBadFiles()
    {
        Fixture f;
        f.write(f.offer());
        f.controller.tick();
        f.controller.model().stop(); // Decline while the poll is out
        f.write(f.offer(u"s2"_s, u"view"_s));
        f.controller.tick();
        f.requester.answerBody(0, std::nullopt); // would end s2 were it not stale
        f.controller.tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s, u"poll"_s }));
        f.closePanel();
        QVERIFY(f.requester.sent.back().body == json("{'action':'decline','session_id':'s2'}") && f.panelsShown == 0);
        f.write(f.offer(u"s3"_s));
        f.controller.tick();
        f.answer(u"requested"_s);
        f.write(json("{'session_id':'s3'}")); // unreadable: the offer lacks the rest
        f.controller.tick();
        QCOMPARE(f.panelsShown, 1);
        f.controller.shutdown();
        f.controller.shutdown(); // nothing shown: nothing sent
        QCOMPARE(f.actions().mid(4), (QStringList { u"poll"_s, u"decline"_s }));
        f.write(f.offer(u"s4"_s), {}, u"http://localhost:7777"_s);
        f.controller.tick();
        f.controller.tick();
        QVERIFY(f.requester.sent.size() == 6 && f.panelsCreated == 4 && f.panelsShown == 0);
    }

    // Quitting with an offer shown: what the directory watcher sees meanwhile (here a new offer)
    // neither presents nor asks anything; the shown offer is declined once.
    void quittingIgnoresTheFileMeanwhile()
    {
        Fixture f;
        f.write(f.offer());
        f.controller.tick();
        QTimer::singleShot(0, [&f] {
            f.write(f.offer(u"s2"_s));
            f.controller.tick();
            f.requester.answerBody(1, "{}");
        });
        f.controller.shutdown();
        QVERIFY(f.actions() == (QStringList { u"poll"_s, u"decline"_s }) && f.panelsCreated == 1 && f.panelsShown == 0);
    }

    // Once per id; while it is open the tick waits, and no offer is shown.
    void restartNotice()
    {
        Fixture f;
        const QJsonObject restart = json("{'id':'r1','application':'Firefox'}");
        f.write({}, restart);
        f.controller.tick();
        QVERIFY(f.notices.size() == 1 && f.notices[0].first.startsWith(u"Firefox was changed by your IT team"_s));
        f.write(f.offer(), restart);
        f.controller.tick();
        std::exchange(f.notices[0].second, {})(); // the held tick goes on with the file it had read
        QCOMPARE(f.panelsCreated, 0);
        f.write({}, restart);
        f.controller.tick();
        f.write({}, json("{'id':'r2','application':'Zoom'}"));
        f.controller.tick();
        QVERIFY(f.notices.size() == 2 && f.notices[1].first.startsWith(u"Zoom"_s));
    }

    void answerStatusRules_data()
    {
        QTest::addColumn<QString>("sharing"); // the mode shared; none: only offered
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("ending");
        const QByteArray move = ",'events':[{'type':'move','sequence':1,'expires_at':1e10}]}";
        QTest::newRow("offer, active") << QString() << "{'status':'active'" + move << QString();
        QTest::newRow("offer, ended") << QString() << QByteArray("{'status':'ended'}") << u"decline"_s;
        QTest::newRow("sharing, status number") << u"control"_s << QByteArray("{'status':1}") << u"stop"_s;
        QTest::newRow("sharing, requested") << u"control"_s << "{'status':'requested'" + move << QString();
        QTest::newRow("sharing, Active") << u"control"_s << "{'status':'Active'" + move << u"stop"_s;
        QTest::newRow("sharing View without XTEST, active") << u"View"_s << "{'status':'active'" + move << QString();
    }
    void answerStatusRules()
    {
        QFETCH(QString, sharing);
        QFETCH(QByteArray, body);
        QFETCH(QString, ending);
        Fixture f;
        f.write(f.offer());
        if (!sharing.isEmpty()) {
            f.controllable = sharing == u"control"_s; // showing the screen alone needs no XTEST
            f.startSharing(sharing);
            f.controller.tick();
            f.answerCapture(QByteArray("jpeg"));
            f.controllable = true;
        }
        f.controller.tick();
        const QStringList before = f.actions();
        f.requester.answerBody(before.size() - 1, body.replace('\'', '"'));
        QVERIFY(f.posted.isEmpty()); // events count only while sharing control and active
        QCOMPARE(f.actions(), ending.isEmpty() ? before : before + QStringList { ending });
    }

    // On a display at 1,2 of 1440 by 900.
    void eventsPost_data()
    {
        QTest::addColumn<QJsonObject>("event");
        QTest::addColumn<QString>("posted");
        const auto row = [](const char *name, const char *event, const char *posted) {
            QTest::newRow(name) << input(event) << QString::fromLatin1(posted);
        };
        row("clamped to the edges", "{'type':'move','x':-0.5,'y':7}", "Moved 1,901 1");
        row("double click", "{'type':'double_click'}", "LeftDown 1,2 1; LeftUp 1,2 1; LeftDown 1,2 2; LeftUp 1,2 2");
        row("right click", "{'type':'click','button':'right'}", "RightDown 1,2 1 right; RightUp 1,2 1 right");
        row("right drag uses left kinds", "{'type':'drag','button':'right','to_x':1}",
            "LeftDown 1,2 1 right; LeftDragged 1440,2 1 right; LeftUp 1440,2 1 right");
        row("huge scroll clipped", "{'type':'scroll','delta':1e12}", "Moved 1,2 1; Scroll 100");
        row("modifiers combine", "{'type':'key','key':'KeyC','modifiers':['shift','ctrl','alt','meta','fn']}",
            "KeyDown 46 15; KeyUp 46 15");
        row("bad modifiers", "{'type':'key','key':'KeyA','modifiers':['alt',3]}", "KeyDown 30 0; KeyUp 30 0");
        row("unknown key", "{'type':'key','key':'Hyper'}", "");
        row("unknown type", "{'type':'wiggle'}", "");
        row("expiring this instant", "{'expires_at':1777627800}", "");
        row("sequence zero", "{'sequence':0}", "");
    }
    void eventsPost()
    {
        QFETCH(QJsonObject, event);
        Fixture f;
        f.startSharing();
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
        f.frame({ input("{'sequence':20}"), 3 }); // one stray element: no list at all
        QCOMPARE(f.posted.size(), 1);
        f.frame({ input("{'sequence':7}") }, "new"); // nor did the expired 9 count
        QCOMPARE(f.posted.size(), 2);
        QStringList pictures; // a still picture goes out again, a new one as itself
        for (const auto &sent : f.requester.sent)
            if (sent.body.contains("jpeg"_L1))
                pictures << sent.body.value("jpeg"_L1).toString();
        QCOMPARE(pictures, (QStringList(3, u"anBlZw=="_s) << u"bmV3"_s));
        f.write(f.offer(u"s2"_s)); // a new offer replaces the shared one: polled, never captured
        f.controller.tick();
        f.answer(u"active"_s);
        f.controller.tick();
        QCOMPARE(f.actions().mid(f.actions().size() - 3), (QStringList { u"frame"_s, u"poll"_s, u"poll"_s }));
        QVERIFY(f.panelsCreated == 2 && f.panelsShown == 1 && f.captures.size() == 4); // as many as frames
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "test_support.moc"
