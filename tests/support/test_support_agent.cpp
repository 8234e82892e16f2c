// The support controller against the in-process agent simulator over real loopback HTTP.

#include "AgentSimulator.h"
#include "agent/LocalApi.h"
#include "fakes/FakeSupportServices.h"
#include "platform/Clock.h"
#include "support/RemoteSupportController.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
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

QByteArray sampleJpeg()
{
    QImage image(64, 40, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 55);
    return bytes;
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
        pelk::agent::NetworkApiRequester requester;
        pelk::platform::SystemClock clock;
        RemoteSupportController controller { { session, capture, input, windows, windows, requester, clock },
            sim.filePath(pelk::agentsim::AgentFileKind::Desktop) };

        bool begin(const QString &mode = u"control"_s)
        {
            if (!sim.listen())
                return false;
            controller.start();
            return sim.putOffer({ u"s1"_s, u"Dana"_s, mode, QDateTime::currentSecsSinceEpoch() + 600 });
        }
    };

private Q_SLOTS:
    void consentSharingInputAndStop()
    {
        Rig rig;
        QVERIFY(rig.begin());
        QVERIFY(QTest::qWaitFor([&] { return actionsSeen(rig.sim).count(u"poll"_s) >= 2; }, 10000));
        QCOMPARE(rig.windows.panelsShown, 1);
        QCOMPARE(rig.controller.model().technician(), u"Dana"_s);
        QVERIFY(!actionsSeen(rig.sim).contains(u"accept"_s));

        rig.controller.model().allow();
        QVERIFY(QTest::qWaitFor([&] { return !rig.capture.lookups.empty(); }, 10000));
        rig.capture.answerLookup(0, pelk::platform::MainDisplay { 1, QRect(0, 0, 1440, 900) });
        QVERIFY(QTest::qWaitFor([&] { return rig.controller.accepted(); }, 10000));
        QCOMPARE(rig.sim.supportState(), pelk::agentsim::SupportState::Active);
        QVERIFY(rig.controller.model().active());
        QVERIFY(!actionsSeen(rig.sim).contains(u"frame"_s));

        rig.sim.queueEvents(QJsonArray {
            rig.sim.stampEvent(QJsonObject { { "type"_L1, u"move"_s }, { "x"_L1, 0.5 }, { "y"_L1, 1 } }) });
        const QByteArray jpeg = sampleJpeg();
        QVERIFY(QTest::qWaitFor([&] { return !rig.capture.captures.empty(); }, 10000));
        QCOMPARE(rig.capture.captures[0].size, QSize(1440, 900));
        rig.capture.answerCapture(0, jpeg);
        QVERIFY(QTest::qWaitFor([&] { return rig.sim.frameCount() == 1; }, 10000));
        QCOMPARE(rig.sim.lastFrame(), jpeg);
        QVERIFY(QTest::qWaitFor([&] { return !rig.input.posted.isEmpty(); }, 10000));
        QCOMPARE(rig.input.posted, QStringList { u"Moved 719.5,899 1 Left"_s });

        QVERIFY(QTest::qWaitFor([&] { return rig.capture.captures.size() == 2; }, 10000)); // next tick, next frame
        rig.controller.model().stop();
        QVERIFY(QTest::qWaitFor([&] { return actionsSeen(rig.sim).contains(u"stop"_s); }, 10000));
        QCOMPARE(rig.sim.supportState(), pelk::agentsim::SupportState::Ended);
        QCOMPARE(rig.windows.panelsShown, 0);
        rig.capture.answerCapture(1, jpeg); // a capture finishing after the stop goes nowhere
        QTest::qWait(100);
        QCOMPARE(rig.sim.frameCount(), 1);
    }

    void declinedOfferNeverReturns()
    {
        Rig rig;
        rig.sim.setWithdrawOfferOnEnd(false);
        QVERIFY(rig.begin(u"view"_s));
        QVERIFY(QTest::qWaitFor([&] { return rig.windows.panelsShown == 1; }, 10000));
        rig.windows.closePanel();
        QVERIFY(QTest::qWaitFor([&] { return actionsSeen(rig.sim).contains(u"decline"_s); }, 10000));
        const qsizetype seen = rig.sim.requests().size();
        QTest::qWait(3 * RemoteSupportController::kTickMs);
        QCOMPARE(rig.windows.panelsCreated, 1);
        QCOMPARE(rig.sim.requests().size(), seen);
    }

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
