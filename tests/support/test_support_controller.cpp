// The support controller's tick, consent, capture and input rules, and how it consumes the agent's
// answers (status words, event order and expiry, what is posted), driven through fakes.

#include "SupportFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using pelk::support::RemoteSupportController;
using pelk::testing::SupportFixture;

namespace {

// What a sharing session posts once its frame answer carries these events.
QStringList postedFor(SupportFixture &f, const QJsonArray &events)
{
    f.controller->consume(SupportFixture::status(u"active"_s, events));
    return f.input.posted;
}

QJsonObject inputEvent(const QString &type, qint64 sequence, const QJsonObject &more, double expiresAt)
{
    QJsonObject e = more;
    e.insert("type"_L1, type);
    e.insert("sequence"_L1, sequence);
    e.insert("expires_at"_L1, expiresAt);
    return e;
}

} // namespace

class TestSupportController : public QObject {
    Q_OBJECT

    double later() const { return double(QDateTime(QDate(2026, 5, 1), QTime(9, 40), Qt::UTC).toSecsSinceEpoch()); }

private Q_SLOTS:
    void offerIsPresentedAndPolledOnePerTick()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller->tick();
        QCOMPARE(f.windows.panelsShown, 1);
        QCOMPARE(f.windows.activations, 1);
        QCOMPARE(f.controller->model().technician(), u"Dana"_s);
        QCOMPARE(f.actions(), QStringList { u"poll"_s });
        const auto &sent = f.requester.sent.at(0);
        QCOMPARE(sent.request.url().toString(), u"http://127.0.0.1:7777/support"_s);
        QCOMPARE(sent.request.rawHeader("X-Pelk-Session"), QByteArray("tok"));
        QCOMPARE(sent.body.value("session_id"_L1).toString(), u"s1"_s);
        QVERIFY(sent.maxBytes > 0);
        f.controller->tick(); // poll still outstanding: nothing new
        QCOMPARE(f.requester.sent.size(), size_t(1));
        f.answer(0, SupportFixture::status(u"requested"_s));
        f.controller->tick();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"poll"_s }));
        QCOMPARE(f.windows.panelsCreated, 1);
    }

    void fullSessionSendsFramesAndEndsWithStop()
    {
        SupportFixture f;
        f.startSharing();
        QVERIFY(f.controller->accepted());
        QVERIFY(f.controller->model().active());
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s }));
        f.controller->tick();
        QCOMPARE(f.capture.captures.size(), size_t(1));
        QCOMPARE(f.capture.captures[0].size, QSize(1440, 900));
        QCOMPARE(f.capture.captures[0].quality, 55);
        f.controller->tick(); // capture outstanding
        QCOMPARE(f.capture.captures.size(), size_t(1));
        f.capture.answerCapture(0, QByteArray(400000, 'j')); // the limit itself is sent
        QCOMPARE(f.action(2), u"frame"_s);
        QCOMPARE(f.requester.sent[2].body.value("jpeg"_L1).toString(),
            QString::fromLatin1(QByteArray(400000, 'j').toBase64()));
        f.answer(2, SupportFixture::status(u"active"_s));
        f.controller->model().stop();
        QCOMPARE(f.action(3), u"stop"_s);
        QCOMPARE(f.windows.panelsShown, 0);
        QVERIFY(f.controller->dismissed().contains(u"s1"_s));
        f.controller->tick();
        QCOMPARE(f.windows.panelsCreated, 1); // the dismissed offer is not shown again
        QCOMPARE(f.requester.sent.size(), size_t(4));
    }

    void sessionEndsOnFailure_data()
    {
        QTest::addColumn<int>("failure");
        QTest::newRow("oversized jpeg") << 0;
        QTest::newRow("capture failed") << 1;
        QTest::newRow("frame answer missing") << 2;
        QTest::newRow("frame answer ended") << 3;
        QTest::newRow("desktop file gone") << 4;
        QTest::newRow("capture no longer possible") << 5;
        QTest::newRow("screen locked") << 6;
        QTest::newRow("session notification") << 7;
        QTest::newRow("off the console") << 8;
    }
    void sessionEndsOnFailure()
    {
        QFETCH(int, failure);
        SupportFixture f;
        f.startSharing();
        f.controller->tick();
        switch (failure) {
        case 0:
            f.capture.answerCapture(0, QByteArray(400001, 'j'));
            break;
        case 1:
            f.capture.answerCapture(0, std::nullopt);
            break;
        case 2:
            f.capture.answerCapture(0, QByteArray("jpeg"));
            f.requester.answerBody(2, std::nullopt);
            break;
        case 3:
            f.capture.answerCapture(0, QByteArray("jpeg"));
            f.answer(2, SupportFixture::status(u"ended"_s));
            break;
        case 4:
            f.capture.answerCapture(0, QByteArray("jpeg"));
            f.answer(2, SupportFixture::status(u"active"_s));
            f.removeFile();
            f.controller->tick();
            break;
        case 5:
            f.capture.answerCapture(0, QByteArray("jpeg"));
            f.answer(2, SupportFixture::status(u"active"_s));
            f.capture.permitted = false;
            f.controller->tick();
            break;
        case 6:
            f.session.answer.screenIsLocked = true;
            f.controller->tick();
            break;
        case 7:
            f.session.end();
            break;
        case 8:
            f.session.answer.onConsole = false;
            f.controller->tick();
            break;
        }
        QCOMPARE(f.actions().last(), u"stop"_s);
        QVERIFY(!f.controller->presentedID());
        QVERIFY(f.controller->dismissed().contains(u"s1"_s));
        QCOMPARE(f.windows.panelsShown, 0);
        QVERIFY(!f.controller->model().active());
    }

    void offerEndsWithoutMessageWhenWithdrawnOrExpired_data()
    {
        QTest::addColumn<bool>("expire");
        QTest::newRow("withdrawn") << false;
        QTest::newRow("expiry second reached") << true;
    }
    void offerEndsWithoutMessageWhenWithdrawnOrExpired()
    {
        QFETCH(bool, expire);
        SupportFixture f;
        f.startSharing();
        const size_t before = f.requester.sent.size();
        if (expire) {
            f.clock.advance(600); // now == expires_at counts as expired
        } else {
            f.write(std::nullopt);
        }
        f.controller->tick();
        QCOMPARE(f.requester.sent.size(), before);
        QCOMPARE(f.windows.panelsShown, 0);
        QVERIFY(f.controller->dismissed().isEmpty());
        QVERIFY(!f.controller->accepted());
    }

    void unreadableFileKeepsWaitingOffer()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller->tick();
        f.answer(0, SupportFixture::status(u"requested"_s));
        f.writeRaw("{\"url\": 1}");
        f.controller->tick();
        QCOMPARE(f.windows.panelsShown, 1);
        QCOMPARE(f.requester.sent.size(), size_t(1));
        QCOMPARE(f.controller->state()->url, u"http://127.0.0.1:7777"_s); // the last good state stays
    }

    void declineAndStaleAnswers()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller->tick();
        const qint64 generation = f.controller->generation();
        f.controller->model().stop(); // Decline while the poll is out
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s }));
        QVERIFY(f.controller->generation() > generation);
        f.requester.answerBody(0, std::nullopt); // would end a live offer; this one is stale
        f.answer(1, SupportFixture::status(u"ended"_s));
        QCOMPARE(f.requester.sent.size(), size_t(2));
        QVERIFY(!f.controller->requestInFlight());
        // Closing the panel acts as Decline too, for a new offer.
        f.write(SupportFixture::offer(u"s2"_s));
        f.controller->tick();
        QCOMPARE(f.windows.panelsShown, 1);
        f.windows.closePanel();
        QCOMPARE(f.action(3), u"decline"_s);
        QCOMPARE(f.windows.panelsShown, 0);
    }

    void newOfferReplacesOldWithoutMessage()
    {
        SupportFixture f;
        f.startSharing();
        f.write(SupportFixture::offer(u"s2"_s, u"view"_s));
        f.controller->tick();
        QCOMPARE(f.controller->presentedID(), std::optional<QString>(u"s2"_s));
        QVERIFY(!f.controller->accepted());
        QVERIFY(!f.controller->hasFilter());
        QCOMPARE(f.controller->model().mode(), u"view"_s);
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s, u"poll"_s }));
        QCOMPARE(f.windows.panelsCreated, 2);
        QCOMPARE(f.windows.panelsShown, 1);
    }

    void allowChecksInOrder_data()
    {
        QTest::addColumn<bool>("shareable");
        QTest::addColumn<bool>("capture");
        QTest::addColumn<bool>("control");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("error");
        QTest::newRow("wayland") << false << false << false << u"control"_s
                                 << u"Remote sharing requires an X11 session. Wayland sessions cannot be shared."_s;
        QTest::newRow("no shm")
            << true << false << false << u"control"_s
            << u"Remote sharing requires the X server\u2019s MIT-SHM extension, which this display does not offer."_s;
        QTest::newRow("no xtest, control")
            << true << true << false << u"control"_s
            << u"Remote control requires the X server\u2019s XTEST extension, which this display does not offer."_s;
        QTest::newRow("no xtest, view") << true << true << false << u"view"_s << QString();
    }
    void allowChecksInOrder()
    {
        QFETCH(bool, shareable);
        QFETCH(bool, capture);
        QFETCH(bool, control);
        QFETCH(QString, mode);
        QFETCH(QString, error);
        SupportFixture f;
        f.capture.shareable = shareable;
        f.capture.permitted = capture;
        f.input.permitted = control;
        f.write(SupportFixture::offer(u"s1"_s, mode));
        f.controller->tick();
        f.answer(0, SupportFixture::status(u"requested"_s));
        f.controller->model().allow();
        QCOMPARE(f.controller->model().error(), error);
        QCOMPARE(f.controller->model().busy(), error.isEmpty());
        QCOMPARE(f.capture.lookups.size(), size_t(error.isEmpty() ? 1 : 0));
    }

    void consentOutcomes()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller->tick();
        f.controller->model().allow(); // poll outstanding: consent waits for the next tick
        f.controller->model().allow();
        QVERIFY(f.controller->wantsAccept());
        QVERIFY(f.capture.lookups.empty());
        f.answer(0, SupportFixture::status(u"requested"_s));
        f.controller->tick();
        QCOMPARE(f.capture.lookups.size(), size_t(1));
        QVERIFY(f.controller->model().busy());
        f.controller->tick(); // busy: nothing goes out
        QCOMPARE(f.requester.sent.size(), size_t(1));
        f.capture.answerLookup(0, std::nullopt);
        QCOMPARE(f.controller->model().error(), u"The main display is unavailable."_s);
        QVERIFY(!f.controller->model().busy());
        // Next attempt: the error stays while connecting; "requested" returns to consent.
        f.controller->model().allow();
        QCOMPARE(f.controller->model().allowLabel(), u"Connecting\u2026"_s);
        QCOMPARE(f.controller->model().error(), u"The main display is unavailable."_s);
        f.capture.answerLookup(1, pelk::platform::MainDisplay { 1, QRect(0, 0, 800, 600) });
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"accept"_s }));
        f.answer(1, SupportFixture::status(u"requested"_s));
        QVERIFY(!f.controller->model().busy());
        QVERIFY(!f.controller->accepted());
        QVERIFY(f.controller->hasFilter());
        QVERIFY(f.controller->presentedID());
        // Then confirmed: the error is cleared.
        f.controller->model().allow();
        f.capture.answerLookup(2, pelk::platform::MainDisplay { 1, QRect(0, 0, 800, 600) });
        f.answer(2, SupportFixture::status(u"active"_s));
        QVERIFY(f.controller->accepted());
        QCOMPARE(f.controller->model().error(), QString());
    }

    void unacceptableUrlStartsNothing_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("name") << u"http://localhost:7777"_s;
        QTest::newRow("https") << u"https://127.0.0.1:7777"_s;
        QTest::newRow("upper-case scheme") << u"HTTP://127.0.0.1:7777"_s;
        QTest::newRow("short form") << u"http://127.1:7777"_s;
        QTest::newRow("other address") << u"http://127.0.0.2:7777"_s;
        QTest::newRow("garbage") << u"::"_s;
    }
    void unacceptableUrlStartsNothing()
    {
        QFETCH(QString, url);
        SupportFixture f;
        f.write(SupportFixture::offer(), std::nullopt, url);
        f.controller->tick();
        QVERIFY(f.requester.sent.empty()); // neither the poll nor the decline that follows
        QVERIFY(f.controller->dismissed().contains(u"s1"_s));
        QCOMPARE(f.windows.panelsShown, 0);
    }

    void restartNoticeWaitsForOfferAndHoldsTheTick()
    {
        SupportFixture f;
        const QJsonObject restart { { "id"_L1, u"r1"_s }, { "application"_L1, u"Firefox"_s } };
        f.write(SupportFixture::offer(), restart);
        f.controller->tick();
        QVERIFY(f.windows.notices.empty());
        QCOMPARE(f.windows.panelsShown, 1);
        f.write(std::nullopt, restart);
        f.controller->tick();
        QCOMPARE(f.windows.notices.size(), size_t(1));
        const auto &notice = f.windows.notices[0];
        QCOMPARE(notice.message, u"Restart when you\u2019re ready"_s);
        QCOMPARE(notice.informative,
            u"Firefox was changed by your IT team and needs a restart. Save your work, then choose Restart from the "
            u"Apple menu. Pelk will not restart your Mac automatically."_s);
        QCOMPARE(notice.button, u"Got it"_s);
        QCOMPARE(f.windows.panelsShown, 1); // the rest of the tick waits for the notice
        f.write(SupportFixture::offer(u"s9"_s), restart);
        f.controller->tick(); // held: no new presentation while the notice is open
        QCOMPARE(f.windows.panelsCreated, 1);
        f.windows.closeNotice(0);
        QCOMPARE(f.windows.panelsShown, 0); // the held tick went on with the file it had read
        f.write(std::nullopt, restart);
        f.controller->tick();
        QCOMPARE(f.windows.notices.size(), size_t(1)); // once per id
        f.write(std::nullopt, QJsonObject { { "id"_L1, u"r2"_s }, { "application"_L1, u"Zoom"_s } });
        f.controller->tick();
        QCOMPARE(f.windows.notices.size(), size_t(2));
    }

    void shutdownTellsTheAgent()
    {
        SupportFixture f;
        f.write(SupportFixture::offer());
        f.controller->tick();
        f.controller->shutdown();
        QCOMPARE(f.actions(), (QStringList { u"poll"_s, u"decline"_s }));
        QCOMPARE(f.windows.panelsShown, 0);
        f.controller->shutdown(); // nothing shown: nothing sent
        QCOMPARE(f.requester.sent.size(), size_t(2));
    }

    void pictureSize_data()
    {
        QTest::addColumn<QSizeF>("display");
        QTest::addColumn<QSize>("picture");
        QTest::newRow("2560x1440") << QSizeF(2560, 1440) << QSize(1440, 810);
        QTest::newRow("portrait") << QSizeF(1000, 3000) << QSize(480, 1440);
        QTest::newRow("own size") << QSizeF(1440, 900) << QSize(1440, 900);
        QTest::newRow("tiny strip") << QSizeF(100000, 10) << QSize(1440, 1);
    }
    void pictureSize()
    {
        QFETCH(QSizeF, display);
        QFETCH(QSize, picture);
        QCOMPARE(RemoteSupportController::pictureSize(display), picture);
    }

    void eventsPostAsExpected_data()
    {
        QTest::addColumn<QJsonObject>("members");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("posted");
        QTest::newRow("move clamps to the last pixel")
            << QJsonObject { { "x"_L1, 1 }, { "y"_L1, 1 } } << u"move"_s << QStringList { u"Moved 1439,899 1 Left"_s };
        QTest::newRow("move out of range and garbage") << QJsonObject { { "x"_L1, -0.5 }, { "y"_L1, u"half"_s } }
                                                       << u"move"_s << QStringList { u"Moved 0,0 1 Left"_s };
        QTest::newRow("double click") << QJsonObject { { "x"_L1, 0 }, { "y"_L1, 0 } } << u"double_click"_s
                                      << QStringList { u"LeftDown 0,0 1 Left"_s, u"LeftUp 0,0 1 Left"_s,
                                             u"LeftDown 0,0 2 Left"_s, u"LeftUp 0,0 2 Left"_s };
        QTest::newRow("right click") << QJsonObject { { "button"_L1, u"right"_s } } << u"click"_s
                                     << QStringList { u"RightDown 0,0 1 Right"_s, u"RightUp 0,0 1 Right"_s };
        QTest::newRow("right drag uses left kinds")
            << QJsonObject { { "button"_L1, u"right"_s }, { "to_x"_L1, 1 }, { "to_y"_L1, 0 } } << u"drag"_s
            << QStringList { u"LeftDown 0,0 1 Right"_s, u"LeftDragged 1439,0 1 Right"_s, u"LeftUp 1439,0 1 Right"_s };
        QTest::newRow("scroll down") << QJsonObject { { "delta"_L1, -3 } } << u"scroll"_s
                                     << QStringList { u"Moved 0,0 1 Left"_s, u"Scroll -3"_s };
        QTest::newRow("huge scroll is clipped") << QJsonObject { { "delta"_L1, 1e12 } } << u"scroll"_s
                                                << QStringList { u"Moved 0,0 1 Left"_s, u"Scroll 100"_s };
        QTest::newRow("key with meta") << QJsonObject { { "key"_L1, u"KeyC"_s },
            { "modifiers"_L1, QJsonArray { u"meta"_s } } }
                                       << u"key"_s << QStringList { u"KeyDown 0x63 8"_s, u"KeyUp 0x63 8"_s };
        QTest::newRow("modifiers combine, unknown ignored") << QJsonObject {
            { "key"_L1, u"Enter"_s }, { "modifiers"_L1, QJsonArray { u"shift"_s, u"ctrl"_s, u"fn"_s } }
        } << u"key"_s << QStringList { u"KeyDown 0xff0d 3"_s, u"KeyUp 0xff0d 3"_s };
        QTest::newRow("malformed modifiers count as none")
            << QJsonObject { { "key"_L1, u"Delete"_s }, { "modifiers"_L1, QJsonArray { u"alt"_s, 3 } } } << u"key"_s
            << QStringList { u"KeyDown 0xffff 0"_s, u"KeyUp 0xffff 0"_s };
        QTest::newRow("unknown key") << QJsonObject { { "key"_L1, u"Hyper"_s } } << u"key"_s << QStringList {};
        QTest::newRow("unknown type") << QJsonObject {} << u"wiggle"_s << QStringList {};
    }
    void eventsPostAsExpected()
    {
        QFETCH(QJsonObject, members);
        QFETCH(QString, type);
        QFETCH(QStringList, posted);
        SupportFixture f;
        f.startSharing();
        QCOMPARE(postedFor(f, QJsonArray { inputEvent(type, 1, members, later()) }), posted);
    }

    void sequenceAndExpiry()
    {
        SupportFixture f;
        f.startSharing();
        const double now = double(f.now());
        const QJsonObject at { { "x"_L1, 0 }, { "y"_L1, 0 } };
        const QJsonArray first { inputEvent(u"move"_s, 5, at, later()), inputEvent(u"move"_s, 4, at, later()),
            inputEvent(u"move"_s, 9, at, now) /* expires this instant */,
            QJsonObject { { "type"_L1, u"move"_s }, { "sequence"_L1, 12 } } };
        postedFor(f, first);
        QCOMPARE(f.input.posted.size(), 1);
        QCOMPARE(f.controller->lastSequence(), 5);
        // The same answer again applies nothing; a lower sequence after an expired one may still apply.
        postedFor(f, first);
        postedFor(f, QJsonArray { inputEvent(u"move"_s, 7, at, later()) });
        QCOMPARE(f.input.posted.size(), 2);
        QCOMPARE(f.controller->lastSequence(), 7);
        // Without permission an event is consumed without effect.
        f.input.permitted = false;
        postedFor(f, QJsonArray { inputEvent(u"move"_s, 8, at, later()) });
        QCOMPARE(f.input.posted.size(), 2);
        QCOMPARE(f.controller->lastSequence(), 8);
        // A list with one stray element is no list at all.
        f.input.permitted = true;
        postedFor(f, QJsonArray { inputEvent(u"move"_s, 20, at, later()), 3 });
        QCOMPARE(f.controller->lastSequence(), 8);
    }

    void statusRules_data()
    {
        QTest::addColumn<bool>("sharing");
        QTest::addColumn<QJsonObject>("answer");
        QTest::addColumn<QString>("ending");
        QTest::newRow("offer, active") << false << SupportFixture::status(u"active"_s) << QString();
        QTest::newRow("offer, ended") << false << SupportFixture::status(u"ended"_s) << u"decline"_s;
        QTest::newRow("offer, empty") << false << QJsonObject {} << u"decline"_s;
        QTest::newRow("sharing, status number") << true << QJsonObject { { "status"_L1, 1 } } << u"stop"_s;
        QTest::newRow("sharing, requested") << true << SupportFixture::status(u"requested"_s) << QString();
        QTest::newRow("sharing, Active") << true << SupportFixture::status(u"Active"_s) << u"stop"_s;
    }
    void statusRules()
    {
        QFETCH(bool, sharing);
        QFETCH(QJsonObject, answer);
        QFETCH(QString, ending);
        SupportFixture f;
        if (sharing) {
            f.startSharing();
        } else {
            f.write(SupportFixture::offer());
            f.controller->tick();
        }
        const size_t before = f.requester.sent.size();
        answer.insert("events"_L1, QJsonArray { inputEvent(u"move"_s, 1, {}, later()) });
        f.controller->consume(answer);
        QVERIFY(f.input.posted.isEmpty()); // "requested" after consent, or before it: no events
        if (ending.isEmpty()) {
            QCOMPARE(f.requester.sent.size(), before);
            QVERIFY(f.controller->presentedID());
        } else {
            QCOMPARE(f.actions().last(), ending);
            QVERIFY(!f.controller->presentedID());
        }
    }

    void viewModeIgnoresEvents()
    {
        SupportFixture f;
        f.startSharing(u"View"_s); // only exactly "control" controls
        postedFor(f, QJsonArray { inputEvent(u"move"_s, 1, {}, later()) });
        QVERIFY(f.input.posted.isEmpty());
        QCOMPARE(f.controller->lastSequence(), 0);
        QVERIFY(f.controller->accepted());
    }
};

QTEST_GUILESS_MAIN(TestSupportController)
#include "test_support_controller.moc"
