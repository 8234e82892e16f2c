// The support controller driven through fakes: what it asks the agent, which windows it shows,
// what it captures and which input it posts.

#include "SupportFixture.h"

using namespace Qt::StringLiterals;
using pelk::testing::SupportFixture;

namespace {

constexpr qint64 kNow = 1777627800; // the fake clock's start

// An input event: a move, sequence 1 and a future expiry unless it says otherwise.
QJsonObject input(const char *json)
{
    QJsonObject event = SupportFixture::json(json);
    if (!event.contains("type"_L1))
        event.insert("type"_L1, u"move"_s);
    if (!event.contains("sequence"_L1))
        event.insert("sequence"_L1, 1);
    if (!event.contains("expires_at"_L1))
        event.insert("expires_at"_L1, kNow + 1);
    return event;
}

} // namespace

class TestSupportController : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void consentFlow()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        f.controller.model().allow(); // the poll is out: consent waits for a tick after its answer
        f.controller.tick();
        QCOMPARE(f.windows.panelsShown, 1);
        QCOMPARE(f.controller.model().technician(), u"Dana"_s);
        QCOMPARE(f.requester.sent.at(0).request.rawHeader("X-Pelk-Session"), QByteArray("tok"));
        QCOMPARE(f.requester.sent.at(0).body.value("session_id"_L1).toString(), u"s1"_s);
        QVERIFY(f.capture.lookups.empty());
        f.answer(u"requested"_s);
        f.controller.tick();
        f.controller.tick(); // busy: nothing goes out
        QCOMPARE(f.requester.sent.size(), size_t(1));
        f.capture.answerLookup(0, std::nullopt);
        QCOMPARE(f.controller.model().error(), u"The main display is unavailable."_s);
        QVERIFY(!f.controller.model().busy());
        f.controller.model().allow(); // the error stays while connecting
        QVERIFY(f.controller.model().busy() && !f.controller.model().error().isEmpty());
        f.capture.answerLookup(1, pelk::platform::MainDisplay { 1, QRect(0, 0, 800, 600) });
        f.answer(u"requested"_s); // back to consent
        QVERIFY(!f.controller.model().busy());
        f.controller.tick();
        f.answer(u"requested"_s);
        f.controller.model().allow();
        f.capture.answerLookup(2, pelk::platform::MainDisplay { 1, QRect(0, 0, 1440, 900) });
        f.answer(u"active"_s);
        QVERIFY(f.controller.model().active());
        QCOMPARE(f.controller.model().error(), QString());
        f.controller.tick();
        f.controller.tick(); // the capture is still out
        QCOMPARE(f.capture.captures.size(), size_t(1));
        QCOMPARE(f.capture.captures[0].quality, 55);
        f.capture.answerCapture(0, QByteArray(400000, 'j')); // the limit itself is sent
        QCOMPARE(f.requester.sent.back().body.value("jpeg"_L1).toString().size(), 533336);
        f.answer(u"active"_s);
        f.controller.model().stop();
        f.controller.tick(); // a stopped offer is not shown again
        const QStringList actions { u"poll"_s, u"accept"_s, u"poll"_s, u"accept"_s, u"frame"_s, u"stop"_s };
        QCOMPARE(f.actions(), actions);
        QCOMPARE(f.windows.panelsShown, 0);
        QCOMPARE(f.windows.panelsCreated, 1);
    }

    void pictureKeepsAspectWithin1440()
    {
        const std::pair<QSize, QSize> rows[] = { { { 2560, 1440 }, { 1440, 810 } }, { { 1000, 3000 }, { 480, 1440 } },
            { { 1440, 900 }, { 1440, 900 } }, { { 100000, 10 }, { 1440, 1 } } };
        for (const auto &[display, picture] : rows) {
            SupportFixture f;
            f.startSharing();
            f.capture.bounds = QRect(QPoint(), display);
            f.controller.tick();
            QCOMPARE(f.capture.captures.at(0).size, picture);
        }
    }

    void sessionEndsOnFailure_data()
    {
        QTest::addColumn<int>("failure");
        const char *const rows[] = { "oversized jpeg", "capture failed", "frame unanswered", "frame answer ended",
            "desktop file gone", "capture no longer permitted", "screen locked", "session ended", "off the console" };
        for (int i = 0; i < int(std::size(rows)); ++i)
            QTest::newRow(rows[i]) << i;
    }
    void sessionEndsOnFailure()
    {
        QFETCH(int, failure);
        SupportFixture f;
        f.startSharing();
        f.controller.tick();
        if (failure < 2)
            f.capture.answerCapture(0, failure == 0 ? std::optional(QByteArray(400001, 'j')) : std::nullopt);
        else if (failure < 6)
            f.capture.answerCapture(0, QByteArray("jpeg"));
        if (failure == 2)
            f.requester.answerBody(2, std::nullopt);
        else if (failure < 6)
            f.answer(failure == 3 ? u"ended"_s : u"active"_s);
        if (failure == 4)
            QVERIFY(QFile::remove(f.dir.filePath(u"desktop.json"_s)));
        f.capture.permitted = failure != 5;
        f.session.answer = { failure == 6, failure != 8 };
        if (failure == 7)
            f.session.end();
        f.controller.tick();
        QCOMPARE(f.actions().last(), u"stop"_s);
        QCOMPARE(f.windows.panelsShown, 0);
        f.capture.permitted = true;
        f.session.answer = {};
        f.controller.tick();
        QCOMPARE(f.windows.panelsCreated, 1);
    }

    void withdrawnOrExpiredOfferEndsSilently()
    {
        for (const bool expire : { false, true }) {
            SupportFixture f;
            f.startSharing();
            if (expire)
                f.clock.advance(600); // the expiry second itself counts as expired
            else
                f.write(std::nullopt);
            f.controller.tick();
            QCOMPARE(f.requester.sent.size(), size_t(2));
            QCOMPARE(f.windows.panelsShown, 0);
            f.write(SupportFixture::offer()); // not dismissed: offered again, it is shown again
            f.controller.tick();
            QCOMPARE(f.windows.panelsShown, 1);
        }
    }

    void unreadableFileKeepsTheLastGoodState()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        f.answer(u"requested"_s);
        f.writeRaw("{\"url\": 1}");
        f.controller.tick();
        QCOMPARE(f.windows.panelsShown, 1);
        f.controller.shutdown();
        f.controller.shutdown(); // nothing shown: nothing sent
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s }));
        QCOMPARE(f.requester.sent.at(1).request.url().toString(), u"http://127.0.0.1:7777/support"_s);
    }

    void staleAnswersAreIgnoredAndClosingDeclines()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        f.controller.model().stop(); // Decline while the poll is out
        f.write(SupportFixture::offer(u"s2"_s, u"view"_s));
        f.controller.tick();
        QCOMPARE(f.controller.model().mode(), u"view"_s);
        f.requester.answerBody(0, std::nullopt); // would end s2 were it not stale
        f.controller.tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s, u"poll"_s }));
        f.windows.closePanel();
        QCOMPARE(f.actions().last(), u"decline"_s);
        QCOMPARE(f.requester.sent.back().body.value("session_id"_L1).toString(), u"s2"_s);
        QCOMPARE(f.windows.panelsShown, 0);
    }

    void newOfferReplacesASharedOne()
    {
        SupportFixture f;
        f.startSharing();
        f.write(SupportFixture::offer(u"s2"_s));
        f.controller.tick();
        f.answer(u"active"_s); // not accepted here: polled, never captured
        f.controller.tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s, u"poll"_s, u"poll"_s }));
        QCOMPARE(f.windows.panelsCreated, 2);
        QCOMPARE(f.windows.panelsShown, 1);
        QVERIFY(f.capture.captures.empty());
    }

    void unusableAddressDismissesTheOffer()
    {
        SupportFixture f;
        f.write(SupportFixture::offer(), {}, u"http://localhost:7777"_s);
        f.controller.tick();
        f.controller.tick();
        QVERIFY(f.requester.sent.empty());
        QCOMPARE(f.windows.panelsCreated, 1);
        QCOMPARE(f.windows.panelsShown, 0);
    }

    void allowChecksInOrder()
    {
        // Shareable session, capture permitted, mode; the error the user sees (none: the display is looked up).
        const std::tuple<bool, bool, QString, QString> rows[]
            = { { false, false, u"control"_s, u"Wayland"_s }, { true, false, u"control"_s, u"MIT-SHM"_s },
                  { true, true, u"control"_s, u"XTEST"_s }, { true, true, u"view"_s, QString() } };
        for (const auto &[shareable, capture, mode, error] : rows) {
            SupportFixture f;
            f.capture.shareable = shareable;
            f.capture.permitted = capture;
            f.input.permitted = false;
            f.write(SupportFixture::offer(u"s1"_s, mode));
            f.controller.tick();
            f.answer(u"requested"_s);
            f.controller.model().allow();
            QCOMPARE(f.controller.model().error().isEmpty(), error.isEmpty());
            QVERIFY(f.controller.model().error().contains(error));
            QCOMPARE(f.capture.lookups.size(), size_t(error.isEmpty() ? 1 : 0));
        }
    }

    void restartNoticeWaitsForTheOfferAndHoldsTheTick()
    {
        SupportFixture f;
        const QJsonObject restart = SupportFixture::json("{'id':'r1','application':'Firefox'}");
        f.write(SupportFixture::offer(), restart);
        f.controller.tick();
        QVERIFY(f.windows.notices.empty());
        f.write(std::nullopt, restart);
        f.controller.tick();
        QCOMPARE(f.windows.notices.size(), size_t(1));
        QVERIFY(f.windows.notices[0].informative.startsWith(u"Firefox was changed by your IT team"_s));
        QCOMPARE(f.windows.panelsShown, 1); // the rest of the tick waits for the notice
        f.write(SupportFixture::offer(u"s9"_s), restart);
        f.controller.tick();
        QCOMPARE(f.windows.panelsCreated, 1);
        f.windows.closeNotice(0);
        QCOMPARE(f.windows.panelsShown, 0); // the held tick goes on with the file it had read
        f.write(std::nullopt, restart);
        f.controller.tick();
        QCOMPARE(f.windows.notices.size(), size_t(1)); // once per id
        f.write(std::nullopt, SupportFixture::json("{'id':'r2','application':'Zoom'}"));
        f.controller.tick();
        QCOMPARE(f.windows.notices.size(), size_t(2));
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
        QTest::newRow("offer, array") << QString() << QByteArray("[]") << u"decline"_s;
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
        SupportFixture f;
        f.write(SupportFixture::offer());
        if (!sharing.isEmpty()) {
            f.startSharing(sharing);
            f.controller.tick();
            f.capture.answerCapture(0, QByteArray("jpeg"));
        }
        f.controller.tick();
        const QStringList before = f.actions();
        f.requester.answerBody(before.size() - 1, body.replace('\'', '"'));
        QVERIFY(f.input.posted.isEmpty()); // events count only while sharing control and active
        QCOMPARE(f.actions(), ending.isEmpty() ? before : before + QStringList { ending });
        QCOMPARE(f.windows.panelsShown, ending.isEmpty() ? 1 : 0);
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
        SupportFixture f;
        f.startSharing();
        f.capture.bounds = QRect(10, 20, 1440, 900);
        f.frame({ event });
        QTEST(f.input.posted.join(u"; "_s), "posted");
    }

    void sequencesOnlyMoveForward()
    {
        SupportFixture f;
        f.startSharing();
        const QJsonArray first { input("{'sequence':5}"), input("{'sequence':4}"),
            input("{'sequence':9,'expires_at':1777627800}") };
        f.frame(first);
        f.frame(first); // the same answer again applies nothing
        f.frame({ input("{'sequence':7}") }); // the expired 9 did not count
        QCOMPARE(f.input.posted.size(), 2);
        f.controller.tick();
        f.capture.answerCapture(3, QByteArray("jpeg"));
        f.input.permitted = false; // lost while the frame was out: consumed without effect
        f.answer(u"active"_s, { input("{'sequence':8}") });
        f.input.permitted = true;
        f.frame({ input("{'sequence':8}") });
        f.frame({ input("{'sequence':20}"), 3 }); // one stray element: no list at all
        QCOMPARE(f.input.posted.size(), 2);
        f.frame({ input("{'sequence':9}") });
        QCOMPARE(f.input.posted.size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestSupportController)
#include "test_support_controller.moc"
