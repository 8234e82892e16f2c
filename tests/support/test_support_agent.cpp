// The support controller against the in-process agent simulator over real loopback HTTP: a
// misbehaving agent ends the offer. (The whole session is driven end to end in support_e2e.py.)

#include "AgentSimulator.h"
#include "boundary/LocalApi.h"
#include "fakes/FakeSupportServices.h"
#include "platform/Clock.h"
#include "support/RemoteSupportController.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using pelk::agentsim::AgentSimulator;
using pelk::agentsim::Endpoint;
using pelk::support::RemoteSupportController;

namespace {

QStringList actionsSeen(const AgentSimulator &sim)
{
    QStringList actions;
    for (const auto &request : sim.requestsTo(Endpoint::Support))
        actions << request.body.value_or(QJsonObject()).value("action"_L1).toString();
    return actions;
}

} // namespace

class TestSupportAgent : public QObject {
    Q_OBJECT
private:
    struct Rig {
        QTemporaryDir dir;
        AgentSimulator sim { dir.path() };
        pelk::fakes::FakeConsoleSession session;
        pelk::fakes::FakeScreenCapture capture;
        pelk::fakes::FakeInputInjector input;
        pelk::fakes::FakeSupportWindows windows;
        pelk::boundary::NetworkApiRequester requester;
        pelk::platform::SystemClock clock;
        RemoteSupportController controller { { session, capture, input, windows, windows, requester, clock },
            sim.filePath(pelk::agentsim::AgentFileKind::Desktop) };

        bool begin()
        {
            if (!sim.listen())
                return false;
            controller.start();
            return sim.putOffer({ u"s1"_s, u"Dana"_s, u"control"_s, QDateTime::currentSecsSinceEpoch() + 600 });
        }
    };

private Q_SLOTS:
    void misbehavingAgentEndsTheOffer_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("drop");
        QTest::newRow("server error") << 500 << QByteArray("{\"status\":\"requested\"}") << false;
        QTest::newRow("array") << 200 << QByteArray("[]") << false;
        QTest::newRow("not json") << 200 << QByteArray("requested") << false;
        QTest::newRow("empty") << 200 << QByteArray() << false;
        QTest::newRow("oversized") << 200
                                   << (QByteArray("{\"status\":\"requested\",\"pad\":\"") + QByteArray(3 << 20, 'x')
                                          + "\"}")
                                   << false;
        QTest::newRow("dropped") << 0 << QByteArray() << true;
    }
    void misbehavingAgentEndsTheOffer()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, drop);
        Rig rig;
        pelk::agentsim::AnswerOverride answer;
        if (drop)
            answer.drop = true;
        else {
            answer.status = status;
            answer.body = body;
        }
        rig.sim.setOverride(Endpoint::Support, answer);
        QVERIFY(rig.begin());
        QVERIFY(QTest::qWaitFor([&] { return rig.controller.dismissed().contains(u"s1"_s); }, 10000));
        QCOMPARE(rig.windows.panelsShown, 0);
        QVERIFY(QTest::qWaitFor([&] { return actionsSeen(rig.sim).contains(u"decline"_s); }, 10000));
    }
};

QTEST_GUILESS_MAIN(TestSupportAgent)
#include "test_support_agent.moc"
