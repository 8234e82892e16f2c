// The support controller against the agent simulator over real loopback HTTP: an answer the
// network layer cannot deliver whole ends the offer. (Answers that arrive but make no sense are
// covered with the fake requester; the whole session runs end to end in support_e2e.py.)

#include "AgentSimulator.h"
#include "SupportFixture.h"

using namespace Qt::StringLiterals;
using namespace pelk::agentsim;

Q_DECLARE_METATYPE(AnswerOverride)

class TestSupportAgent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void undeliverableAnswerEndsTheOffer_data()
    {
        QTest::addColumn<AnswerOverride>("answer");
        QTest::newRow("server error") << AnswerOverride { 500, QByteArray("{\"status\":\"requested\"}") };
        QTest::newRow("oversized") << AnswerOverride { 200,
            "{\"status\":\"requested\",\"pad\":\"" + QByteArray(3 << 20, 'x') + "\"}" };
        AnswerOverride dropped;
        dropped.drop = true;
        QTest::newRow("dropped") << dropped;
    }
    void undeliverableAnswerEndsTheOffer()
    {
        QFETCH(AnswerOverride, answer);
        QTemporaryDir dir;
        AgentSimulator sim(dir.path());
        sim.setOverride(Endpoint::Support, answer);
        QVERIFY(sim.listen());
        pelk::boundary::NetworkApiRequester requester;
        pelk::testing::SupportFixture f(&requester, sim.filePath(AgentFileKind::Desktop));
        QVERIFY(sim.putOffer({ u"s1"_s, u"Dana"_s, u"control"_s, f.clock.now().toSecsSinceEpoch() + 600 }));
        f.controller.tick();
        QCOMPARE(f.windows.panelsShown, 1);
        QTRY_COMPARE_WITH_TIMEOUT(f.windows.panelsShown, 0, 10000);
        const auto declined = [&] {
            const auto requests = sim.requestsTo(Endpoint::Support);
            return !requests.isEmpty()
                && requests.last().body.value_or(QJsonObject()).value("action"_L1) == u"decline"_s;
        };
        QTRY_VERIFY_WITH_TIMEOUT(declined(), 10000);
    }
};

QTEST_GUILESS_MAIN(TestSupportAgent)
#include "test_support_agent.moc"
