// The desktop state record, the consent window's wording and the technician's key names.

#include "support/DesktopState.h"
#include "support/KeyTable.h"
#include "support/SupportModel.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace pelk::support;

class TestSupportRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        const QByteArray head = "{'url':'http://127.0.0.1:1','session':'t'";
        const QByteArray offer = ",'support':{'session_id':'s','technician':'T','mode':'view','expires_at':";
        QTest::newRow("plain") << head + "}" << true;
        QTest::newRow("everything") << head + offer + "5},'restart':{'id':'r','application':'A'},'x':1}" << true;
        QTest::newRow("nulls are none") << head + ",'support':null,'restart':null}" << true;
        QTest::newRow("fractional expiry") << head + offer + "5.5}}" << false;
        QTest::newRow("expiry as string") << head + offer + "'5'}}" << false;
        QTest::newRow("expiry missing") << head + ",'support':{'session_id':'s','technician':'T','mode':'v'}}" << false;
        QTest::newRow("restart id number") << head + ",'restart':{'id':1,'application':'A'}}" << false;
        QTest::newRow("support not an object") << head + ",'support':[]}" << false;
        QTest::newRow("session missing") << QByteArray("{'url':'u'}") << false;
        QTest::newRow("array") << QByteArray("[]") << false;
    }
    void decode()
    {
        QFETCH(QByteArray, json);
        const auto state = DesktopState::decode(json.replace('\'', '"'));
        QTEST(state.has_value(), "readable");
        if (state && state->support) {
            QCOMPARE(state->support, (Offer { u"s"_s, u"T"_s, u"view"_s, 5 }));
            QCOMPARE(state->restart, (Restart { u"r"_s, u"A"_s }));
        }
    }

    void wording()
    {
        // Mode, sharing; then the title, sentence, stop and allow labels the window shows.
        const std::array<QString, 6> rows[] = {
            { u"control"_s, {}, u"Remote support request"_s,
                u"Ana is requesting permission to view your main display and control your keyboard and mouse."_s,
                u"Decline"_s, u"Allow view and control"_s },
            { u"Control"_s, {}, u"Remote support request"_s,
                u"Ana is requesting permission to view your main display."_s, u"Decline"_s, u"Allow screen sharing"_s },
            { u"control"_s, u"sharing"_s, u"Your screen is being shared"_s,
                u"Ana can see your main display and use your keyboard and mouse."_s, u"Stop sharing"_s,
                u"Allow view and control"_s },
            { u"view"_s, u"sharing"_s, u"Your screen is being shared"_s, u"Ana can see your main display."_s,
                u"Stop sharing"_s, u"Allow screen sharing"_s },
        };
        for (const auto &row : rows) {
            SupportModel model;
            model.setTechnician(u"Ana"_s);
            model.setMode(row[0]);
            model.setActive(!row[1].isEmpty());
            QCOMPARE(
                (std::array { row[0], row[1], model.title(), model.sentence(), model.stopLabel(), model.allowLabel() }),
                row);
            model.setBusy(true);
            QCOMPARE(model.allowLabel(), u"Connecting\u2026"_s);
        }
    }

    void keyNamesMapToUsKeysyms()
    {
        const std::pair<QString, quint32> rows[]
            = { { u"KeyA"_s, 'a' }, { u"KeyZ"_s, 'z' }, { u"Digit0"_s, '0' }, { u"Digit9"_s, '9' }, { u"F1"_s, 0xffbe },
                  { u"F12"_s, 0xffc9 }, { u"Backspace"_s, 0xff08 }, { u"Delete"_s, 0xffff }, { u"Enter"_s, 0xff0d },
                  { u"PageUp"_s, 0xff55 }, { u"ArrowDown"_s, 0xff54 }, { u"Backquote"_s, '`' }, { u"Quote"_s, '\'' } };
        for (const auto &[name, keysym] : rows)
            QVERIFY2(keys().value(name) == keysym, qPrintable(name));
        QCOMPARE(keys().size(), 73);
        QVERIFY(!keys().contains(u"keya"_s));
    }
};

QTEST_GUILESS_MAIN(TestSupportRecords)
#include "test_support_records.moc"
