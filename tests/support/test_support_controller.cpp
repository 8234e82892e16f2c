// The support controller driven through fakes: what it asks the agent, which windows it shows,
// what it captures and which input it posts.

#include "SupportFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using pelk::testing::SupportFixture;

namespace {

constexpr double kNow = 1777627800; // the fake clock's start
constexpr double kLater = kNow + 1;

QJsonObject input(const QString &type, qint64 sequence, QJsonObject members = {}, double expiresAt = kLater)
{
    members.insert("type"_L1, type);
    members.insert("sequence"_L1, sequence);
    members.insert("expires_at"_L1, expiresAt);
    return members;
}

} // namespace

class TestSupportController : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void offerIsShownAndPolledOneAtATime()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        QCOMPARE(f.windows.panelsShown, 1);
        QCOMPARE(f.controller.model().technician(), u"Dana"_s);
        QCOMPARE(f.actions(), QStringList { u"poll"_s });
        const auto &sent = f.requester.sent.at(0);
        QCOMPARE(sent.request.url().toString(), u"http://127.0.0.1:7777/support"_s);
        QCOMPARE(sent.request.rawHeader("X-Pelk-Session"), QByteArray("tok"));
        QCOMPARE(sent.body.value("session_id"_L1).toString(), u"s1"_s);
        f.controller.tick(); // the poll is still out
        QCOMPARE(f.requester.sent.size(), size_t(1));
        f.answer(SupportFixture::status(u"requested"_s));
        f.controller.tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"poll"_s }));
        QCOMPARE(f.windows.panelsCreated, 1);
    }

    void sharingSendsFramesUntilStopped()
    {
        SupportFixture f;
        f.startSharing();
        QVERIFY(f.controller.model().active());
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s }));
        f.controller.tick();
        f.controller.tick(); // the capture is still out
        QCOMPARE(f.capture.captures.size(), size_t(1));
        QCOMPARE(f.capture.captures[0].quality, 55);
        f.capture.answerCapture(0, QByteArray(400000, 'j')); // the limit itself is sent
        QCOMPARE(f.actions().last(), u"frame"_s);
        QCOMPARE(f.requester.sent[2].body.value("jpeg"_L1).toString().size(), 533336);
        f.answer(SupportFixture::status(u"active"_s));
        f.controller.model().stop();
        QCOMPARE(f.actions().last(), u"stop"_s);
        QCOMPARE(f.windows.panelsShown, 0);
        f.controller.tick(); // a stopped offer is not shown again
        QCOMPARE(f.windows.panelsCreated, 1);
        QCOMPARE(f.requester.sent.size(), size_t(4));
    }

    void pictureKeepsAspectWithin1440_data()
    {
        QTest::addColumn<QSize>("display");
        QTest::addColumn<QSize>("picture");
        QTest::newRow("2560x1440") << QSize(2560, 1440) << QSize(1440, 810);
        QTest::newRow("portrait") << QSize(1000, 3000) << QSize(480, 1440);
        QTest::newRow("own size") << QSize(1440, 900) << QSize(1440, 900);
        QTest::newRow("strip") << QSize(100000, 10) << QSize(1440, 1);
    }
    void pictureKeepsAspectWithin1440()
    {
        QFETCH(QSize, display);
        SupportFixture f;
        f.startSharing();
        f.capture.bounds = QRect(QPoint(), display);
        f.controller.tick();
        QTEST(f.capture.captures.at(0).size, "picture");
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
        else if (failure == 3)
            f.answer(SupportFixture::status(u"ended"_s));
        else if (failure < 6)
            f.answer(SupportFixture::status(u"active"_s));
        if (failure == 4)
            QVERIFY(QFile::remove(f.dir.filePath(u"desktop.json"_s)));
        f.capture.permitted = failure != 5;
        f.session.answer.screenIsLocked = failure == 6;
        f.session.answer.onConsole = failure != 8;
        if (failure == 7)
            f.session.end();
        f.controller.tick();
        QCOMPARE(f.actions().last(), u"stop"_s);
        QCOMPARE(f.windows.panelsShown, 0);
        QVERIFY(!f.controller.model().active());
        f.capture.permitted = true;
        f.session.answer = {};
        f.controller.tick();
        QCOMPARE(f.windows.panelsCreated, 1);
    }

    void withdrawnOrExpiredOfferEndsSilently_data()
    {
        QTest::addColumn<bool>("expire");
        QTest::newRow("withdrawn") << false;
        QTest::newRow("expiry second reached") << true;
    }
    void withdrawnOrExpiredOfferEndsSilently()
    {
        QFETCH(bool, expire);
        SupportFixture f;
        f.startSharing();
        if (expire)
            f.clock.advance(600);
        else
            f.write(std::nullopt);
        f.controller.tick();
        QCOMPARE(f.requester.sent.size(), size_t(2));
        QCOMPARE(f.windows.panelsShown, 0);
        f.write(SupportFixture::offer()); // not dismissed: offered again, it is shown again
        f.controller.tick();
        QCOMPARE(f.windows.panelsShown, 1);
        QCOMPARE(f.actions().last(), u"poll"_s);
    }

    void unreadableFileKeepsTheLastGoodState()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        f.answer(SupportFixture::status(u"requested"_s));
        f.writeRaw(R"({"url": 1})");
        f.controller.tick();
        QCOMPARE(f.windows.panelsShown, 1);
        QCOMPARE(f.requester.sent.size(), size_t(1));
        f.controller.model().stop();
        QCOMPARE(f.requester.sent.at(1).request.url().toString(), u"http://127.0.0.1:7777/support"_s);
    }

    void declineIgnoresStaleAnswersAndCloseDeclines()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        f.controller.model().stop(); // Decline while the poll is out
        f.write(SupportFixture::offer(u"s2"_s));
        f.controller.tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s, u"poll"_s }));
        f.requester.answerBody(0, std::nullopt); // would end s2 were it not stale
        f.controller.tick();
        QCOMPARE(f.requester.sent.size(), size_t(3));
        QCOMPARE(f.windows.panelsShown, 1);
        f.windows.closePanel(); // the close button declines too
        QCOMPARE(f.actions().last(), u"decline"_s);
        QCOMPARE(f.requester.sent.back().body.value("session_id"_L1).toString(), u"s2"_s);
        QCOMPARE(f.windows.panelsShown, 0);
    }

    void newOfferReplacesTheOldOneSilently()
    {
        SupportFixture f;
        f.startSharing();
        f.write(SupportFixture::offer(u"s2"_s, u"view"_s));
        f.controller.tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s, u"poll"_s }));
        QCOMPARE(f.windows.panelsCreated, 2);
        QCOMPARE(f.windows.panelsShown, 1);
        QCOMPARE(f.controller.model().mode(), u"view"_s);
        f.answer(SupportFixture::status(u"active"_s)); // not accepted here: no capture
        f.controller.tick();
        QVERIFY(f.capture.captures.empty());
    }

    void unusableAddressDismissesTheOffer()
    {
        SupportFixture f;
        f.write(SupportFixture::offer(), {}, u"http://localhost:7777"_s);
        f.controller.tick();
        f.controller.tick();
        QVERIFY(f.requester.sent.empty());
        QCOMPARE(f.windows.panelsShown, 0);
        QCOMPARE(f.windows.panelsCreated, 1);
    }

    void allowChecksInOrder_data()
    {
        QTest::addColumn<bool>("shareable");
        QTest::addColumn<bool>("capture");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("error");
        QTest::newRow("wayland") << false << false << u"control"_s << u"Wayland"_s;
        QTest::newRow("no shm") << true << false << u"control"_s << u"MIT-SHM"_s;
        QTest::newRow("no xtest, control") << true << true << u"control"_s << u"XTEST"_s;
        QTest::newRow("no xtest, view") << true << true << u"view"_s << QString();
    }
    void allowChecksInOrder()
    {
        QFETCH(bool, shareable);
        QFETCH(bool, capture);
        QFETCH(QString, mode);
        QFETCH(QString, error);
        SupportFixture f;
        f.capture.shareable = shareable;
        f.capture.permitted = capture;
        f.input.permitted = false;
        f.write(SupportFixture::offer(u"s1"_s, mode));
        f.controller.tick();
        f.answer(SupportFixture::status(u"requested"_s));
        f.controller.model().allow();
        QCOMPARE(f.controller.model().error().isEmpty(), error.isEmpty());
        QVERIFY(f.controller.model().error().contains(error));
        QCOMPARE(f.capture.lookups.size(), size_t(error.isEmpty() ? 1 : 0));
    }

    void consentWaitsRetriesAndConfirms()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        f.controller.model().allow(); // the poll is out: consent waits for the next tick
        QVERIFY(f.capture.lookups.empty());
        f.answer(SupportFixture::status(u"requested"_s));
        f.controller.tick();
        QCOMPARE(f.capture.lookups.size(), size_t(1));
        f.controller.tick(); // busy: nothing goes out
        QCOMPARE(f.requester.sent.size(), size_t(1));
        f.capture.answerLookup(0, std::nullopt);
        QCOMPARE(f.controller.model().error(), u"The main display is unavailable."_s);
        QVERIFY(!f.controller.model().busy());
        f.controller.model().allow(); // the error stays while connecting
        QVERIFY(f.controller.model().busy());
        QVERIFY(!f.controller.model().error().isEmpty());
        f.capture.answerLookup(1, pelk::platform::MainDisplay { 1, QRect(0, 0, 800, 600) });
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s }));
        f.answer(SupportFixture::status(u"requested"_s)); // back to consent
        QVERIFY(!f.controller.model().busy());
        f.controller.tick();
        QCOMPARE(f.actions().last(), u"poll"_s);
        QVERIFY(f.capture.captures.empty());
        f.answer(SupportFixture::status(u"requested"_s));
        f.controller.model().allow();
        f.capture.answerLookup(2, pelk::platform::MainDisplay { 1, QRect(0, 0, 800, 600) });
        f.answer(SupportFixture::status(u"active"_s));
        QVERIFY(f.controller.model().active());
        QCOMPARE(f.controller.model().error(), QString());
    }

    void restartNoticeWaitsForTheOfferAndHoldsTheTick()
    {
        SupportFixture f;
        const QJsonObject restart { { "id"_L1, u"r1"_s }, { "application"_L1, u"Firefox"_s } };
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
        f.write(std::nullopt, { { "id"_L1, u"r2"_s }, { "application"_L1, u"Zoom"_s } });
        f.controller.tick();
        QCOMPARE(f.windows.notices.size(), size_t(2));
    }

    void shutdownTellsTheAgent()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller.tick();
        f.controller.shutdown();
        f.controller.shutdown(); // nothing shown: nothing sent
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s }));
        QCOMPARE(f.windows.panelsShown, 0);
    }

    void answerStatusRules_data()
    {
        QTest::addColumn<bool>("sharing");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("ending");
        const QByteArray events = R"(,"events":[{"type":"move","sequence":1,"expires_at":1e10}]})";
        QTest::newRow("offer, active") << false << R"({"status":"active")" + events << QString();
        QTest::newRow("offer, ended") << false << QByteArray(R"({"status":"ended"})") << u"decline"_s;
        QTest::newRow("offer, empty object") << false << QByteArray("{}") << u"decline"_s;
        QTest::newRow("offer, array") << false << QByteArray("[]") << u"decline"_s;
        QTest::newRow("offer, not json") << false << QByteArray("requested") << u"decline"_s;
        QTest::newRow("sharing, status number") << true << QByteArray(R"({"status":1})") << u"stop"_s;
        QTest::newRow("sharing, requested") << true << R"({"status":"requested")" + events << QString();
        QTest::newRow("sharing, Active") << true << R"({"status":"Active")" + events << u"stop"_s;
    }
    void answerStatusRules()
    {
        QFETCH(bool, sharing);
        QFETCH(QByteArray, body);
        QFETCH(QString, ending);
        SupportFixture f;
        if (sharing) {
            f.startSharing();
            f.controller.tick();
            f.capture.answerCapture(0, QByteArray("jpeg"));
        } else {
            f.write(SupportFixture::offer());
            f.controller.tick();
        }
        const size_t before = f.requester.sent.size();
        f.requester.answerBody(before - 1, body);
        QVERIFY(f.input.posted.isEmpty()); // events count only while sharing and active
        QCOMPARE(f.requester.sent.size(), before + (ending.isEmpty() ? 0 : 1));
        QCOMPARE(f.actions().last(), ending.isEmpty() ? f.actions().at(before - 1) : ending);
        QCOMPARE(f.windows.panelsShown, ending.isEmpty() ? 1 : 0);
    }

    void eventsPost_data()
    {
        QTest::addColumn<QJsonObject>("event");
        QTest::addColumn<QStringList>("posted");
        const QJsonObject corner { { "x"_L1, 1 }, { "y"_L1, 1 } };
        QTest::newRow("move to the last pixel")
            << input(u"move"_s, 1, corner) << QStringList { u"Moved 1449,919 1 Left"_s };
        QTest::newRow("move out of range, garbage")
            << input(u"move"_s, 1, { { "x"_L1, -0.5 }, { "y"_L1, u"1"_s } }) << QStringList { u"Moved 10,20 1 Left"_s };
        QTest::newRow("move beyond the edge")
            << input(u"move"_s, 1, { { "x"_L1, 0.5 }, { "y"_L1, 7 } }) << QStringList { u"Moved 729.5,919 1 Left"_s };
        QTest::newRow("double click") << input(u"double_click"_s, 1)
                                      << QStringList { u"LeftDown 10,20 1 Left"_s, u"LeftUp 10,20 1 Left"_s,
                                             u"LeftDown 10,20 2 Left"_s, u"LeftUp 10,20 2 Left"_s };
        QTest::newRow("right click") << input(u"click"_s, 1, { { "button"_L1, u"right"_s } })
                                     << QStringList { u"RightDown 10,20 1 Right"_s, u"RightUp 10,20 1 Right"_s };
        QTest::newRow("right drag uses left kinds")
            << input(u"drag"_s, 1, { { "button"_L1, u"right"_s }, { "to_x"_L1, 1 }, { "to_y"_L1, 0 } })
            << QStringList { u"LeftDown 10,20 1 Right"_s, u"LeftDragged 1449,20 1 Right"_s,
                   u"LeftUp 1449,20 1 Right"_s };
        QTest::newRow("scroll down") << input(u"scroll"_s, 1, { { "delta"_L1, -3 } })
                                     << QStringList { u"Moved 10,20 1 Left"_s, u"Scroll -3"_s };
        QTest::newRow("huge scroll is clipped") << input(u"scroll"_s, 1, { { "delta"_L1, 1e12 } })
                                                << QStringList { u"Moved 10,20 1 Left"_s, u"Scroll 100"_s };
        QTest::newRow("key with meta") << input(
            u"key"_s, 1, { { "key"_L1, u"KeyC"_s }, { "modifiers"_L1, QJsonArray { u"meta"_s } } })
                                       << QStringList { u"KeyDown 0x63 8"_s, u"KeyUp 0x63 8"_s };
        QTest::newRow("modifiers combine, unknown ignored")
            << input(u"key"_s, 1,
                   { { "key"_L1, u"Enter"_s }, { "modifiers"_L1, QJsonArray { u"shift"_s, u"ctrl"_s, u"fn"_s } } })
            << QStringList { u"KeyDown 0xff0d 3"_s, u"KeyUp 0xff0d 3"_s };
        QTest::newRow("malformed modifiers are none")
            << input(u"key"_s, 1, { { "key"_L1, u"Delete"_s }, { "modifiers"_L1, QJsonArray { u"alt"_s, 3 } } })
            << QStringList { u"KeyDown 0xffff 0"_s, u"KeyUp 0xffff 0"_s };
        QTest::newRow("unknown key") << input(u"key"_s, 1, { { "key"_L1, u"Hyper"_s } }) << QStringList {};
        QTest::newRow("unknown type") << input(u"wiggle"_s, 1) << QStringList {};
        QTest::newRow("expiring this instant") << input(u"move"_s, 1, {}, kNow) << QStringList {};
        QTest::newRow("no expiry") << QJsonObject { { "type"_L1, u"move"_s }, { "sequence"_L1, 1 } } << QStringList {};
        QTest::newRow("sequence zero") << input(u"move"_s, 0) << QStringList {};
    }
    void eventsPost()
    {
        QFETCH(QJsonObject, event);
        SupportFixture f;
        f.startSharing();
        f.capture.bounds = QRect(10, 20, 1440, 900);
        f.frame({ event });
        QTEST(f.input.posted, "posted");
    }

    void sequencesOnlyMoveForward()
    {
        SupportFixture f;
        f.startSharing();
        const QJsonArray first { input(u"move"_s, 5), input(u"move"_s, 4), input(u"move"_s, 9, {}, kNow) };
        f.frame(first);
        QCOMPARE(f.input.posted.size(), 1);
        f.frame(first); // the same answer again applies nothing
        f.frame({ input(u"move"_s, 7) }); // the expired 9 did not count
        QCOMPARE(f.input.posted.size(), 2);
        f.controller.tick();
        f.capture.answerCapture(3, QByteArray("jpeg"));
        f.input.permitted = false; // lost while the frame was out: consumed without effect
        f.answer(SupportFixture::status(u"active"_s, { input(u"move"_s, 8) }));
        f.input.permitted = true;
        f.frame({ input(u"move"_s, 8) });
        f.frame({ input(u"move"_s, 20), 3 }); // one stray element: no list at all
        QCOMPARE(f.input.posted.size(), 2);
        f.frame({ input(u"move"_s, 9) });
        QCOMPARE(f.input.posted.size(), 3);
    }

    void viewModeIgnoresEvents()
    {
        SupportFixture f;
        f.startSharing(u"View"_s); // only exactly "control" controls
        f.frame({ input(u"move"_s, 1) });
        QVERIFY(f.input.posted.isEmpty());
        QCOMPARE(f.capture.captures.size(), size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestSupportController)
#include "test_support_controller.moc"
