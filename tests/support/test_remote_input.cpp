// How the agent's answers are consumed: status rules, event order and expiry, and what is posted.

#include "SupportFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using pelk::support::RemoteSupportController;
using pelk::testing::SupportFixture;

namespace {

// A sharing session in the given mode whose next frame answer carries these events.
QStringList postedFor(const QJsonArray &events, const QString &mode = u"control"_s, SupportFixture *reuse = nullptr)
{
    SupportFixture local;
    SupportFixture &f = reuse ? *reuse : local;
    if (!reuse)
        f.startSharing(mode);
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

class TestRemoteInput : public QObject {
    Q_OBJECT

private:
    double later() const { return double(QDateTime(QDate(2026, 5, 1), QTime(9, 40), Qt::UTC).toSecsSinceEpoch()); }

private Q_SLOTS:
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
        QCOMPARE(postedFor(QJsonArray { inputEvent(type, 1, members, later()) }), posted);
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
        postedFor(first, {}, &f);
        QCOMPARE(f.input.posted.size(), 1);
        QCOMPARE(f.controller->lastSequence(), 5);
        // The same answer again applies nothing; a lower sequence after an expired one may still apply.
        postedFor(first, {}, &f);
        postedFor(QJsonArray { inputEvent(u"move"_s, 7, at, later()) }, {}, &f);
        QCOMPARE(f.input.posted.size(), 2);
        QCOMPARE(f.controller->lastSequence(), 7);
        // Without permission an event is consumed without effect.
        f.input.permitted = false;
        postedFor(QJsonArray { inputEvent(u"move"_s, 8, at, later()) }, {}, &f);
        QCOMPARE(f.input.posted.size(), 2);
        QCOMPARE(f.controller->lastSequence(), 8);
        // A list with one stray element is no list at all.
        f.input.permitted = true;
        postedFor(QJsonArray { inputEvent(u"move"_s, 20, at, later()), 3 }, {}, &f);
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
        postedFor(QJsonArray { inputEvent(u"move"_s, 1, {}, later()) }, {}, &f);
        QVERIFY(f.input.posted.isEmpty());
        QCOMPARE(f.controller->lastSequence(), 0);
        QVERIFY(f.controller->accepted());
    }
};

QTEST_GUILESS_MAIN(TestRemoteInput)
#include "test_remote_input.moc"
