// The desktop state record and the consent window's wording.

#include "support/DesktopState.h"
#include "support/SupportModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using pelk::support::DesktopState;
using pelk::support::SupportModel;

class TestSupportRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        const QByteArray head = "{\"url\":\"http://127.0.0.1:1\",\"session\":\"t\"";
        const QByteArray offer
            = ",\"support\":{\"session_id\":\"s\",\"technician\":\"T\",\"mode\":\"view\",\"expires_at\":";
        QTest::newRow("plain") << head + "}" << true;
        QTest::newRow("everything") << head + offer + "5},\"restart\":{\"id\":\"r\",\"application\":\"A\"},\"x\":1}"
                                    << true;
        QTest::newRow("nulls are none") << head + ",\"support\":null,\"restart\":null}" << true;
        QTest::newRow("fractional expiry") << head + offer + "5.5}}" << false;
        QTest::newRow("expiry as string") << head + offer + "\"5\"}}" << false;
        QTest::newRow("expiry missing") << head
                + ",\"support\":{\"session_id\":\"s\",\"technician\":\"T\",\"mode\":\"v\"}}"
                                        << false;
        QTest::newRow("restart id number") << head + ",\"restart\":{\"id\":1,\"application\":\"A\"}}" << false;
        QTest::newRow("support not an object") << head + ",\"support\":[]}" << false;
        QTest::newRow("session missing") << QByteArray("{\"url\":\"u\"}") << false;
        QTest::newRow("array") << QByteArray("[]") << false;
    }
    void decode()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        const auto state = DesktopState::decode(json);
        QCOMPARE(state.has_value(), readable);
        if (state && state->support) {
            QCOMPARE(state->support->expiresAt, 5);
            QCOMPARE(state->restart->application, u"A"_s);
        }
    }

    void wording_data()
    {
        QTest::addColumn<QString>("technician");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QString>("allow");
        QTest::newRow("control request")
            << u"Ana"_s << u"control"_s << false << u"Remote support request"_s
            << u"Ana is requesting permission to view your main display and control your keyboard and mouse."_s
            << u"Decline"_s << u"Allow view and control"_s;
        QTest::newRow("capitalised mode is view")
            << u""_s << u"Control"_s << false << u"Remote support request"_s
            << u" is requesting permission to view your main display."_s << u"Decline"_s << u"Allow screen sharing"_s;
        QTest::newRow("sharing, control") << u"Ana"_s << u"control"_s << true << u"Your screen is being shared"_s
                                          << u"Ana can see your main display and use your keyboard and mouse."_s
                                          << u"Stop sharing"_s << u"Allow view and control"_s;
        QTest::newRow("sharing, view") << u"Ana"_s << u"view"_s << true << u"Your screen is being shared"_s
                                       << u"Ana can see your main display."_s << u"Stop sharing"_s
                                       << u"Allow screen sharing"_s;
    }
    void wording()
    {
        QFETCH(QString, technician);
        QFETCH(QString, mode);
        QFETCH(bool, active);
        SupportModel model;
        QSignalSpy texts(&model, &SupportModel::textsChanged);
        model.setTechnician(technician);
        model.setMode(mode);
        model.setActive(active);
        QTEST(model.title(), "title");
        QTEST(model.sentence(), "sentence");
        QTEST(model.stopLabel(), "stop");
        QTEST(model.allowLabel(), "allow");
        QCOMPARE(model.symbol(), active ? u"display"_s : u"person.crop.circle.badge.checkmark"_s);
        QVERIFY(texts.count() >= 1);
        model.setBusy(true);
        QCOMPARE(model.allowLabel(), u"Connecting\u2026"_s);
    }
};

QTEST_GUILESS_MAIN(TestSupportRecords)
#include "test_support_records.moc"
