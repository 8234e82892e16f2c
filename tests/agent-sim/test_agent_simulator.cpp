#include "AgentSimulator.h"
#include "ControlServer.h"
#include "SimClient.h"
#include "agent/Timestamp.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace pelk::agentsim;
using namespace Qt::StringLiterals;
using simtest::fileObject;
using simtest::Reply;

class TestAgentSimulator : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<AgentSimulator> m_sim;
    std::unique_ptr<ControlServer> m_control;

    Reply api(const QByteArray &path, const QJsonObject &body)
    {
        return simtest::send(m_sim->port(), path, body, "X-Pelk-Session: token-1\r\n");
    }
    QString support(const QString &action, const QString &sessionId = u"s-1"_s)
    {
        return api("/support", { { u"action"_s, action }, { u"session_id"_s, sessionId } })
            .json()
            .value("status"_L1)
            .toString();
    }

private Q_SLOTS:
    void init()
    {
        m_sim = std::make_unique<AgentSimulator>(m_dir.path());
        m_sim->setSession(u"token-1"_s);
        m_control = std::make_unique<ControlServer>(*m_sim);
        QVERIFY(m_sim->listen() && m_control->listen());
    }
    void cleanup()
    {
        m_control.reset();
        m_sim.reset();
    }

    void sessionHeaderIsChecked_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("status");
        QTest::newRow("right") << QByteArray("X-Pelk-Session: token-1\r\n") << 200;
        QTest::newRow("name in other case") << QByteArray("x-pelk-session: token-1\r\n") << 200;
        QTest::newRow("missing") << QByteArray() << 401;
        QTest::newRow("wrong") << QByteArray("X-Pelk-Session: token-2\r\n") << 403;
        QTest::newRow("twice") << QByteArray("X-Pelk-Session: token-1\r\nX-Pelk-Session: token-1\r\n") << 403;
    }
    void sessionHeaderIsChecked()
    {
        QFETCH(QByteArray, headers);
        QTEST(simtest::send(m_sim->port(), "/presence", { { u"command_uuid"_s, u"c-1"_s } }, headers).status, "status");
    }

    void pinDecidesTheUnlock()
    {
        QVERIFY(m_sim->lock(u"cmd-7"_s, u"Call IT"_s));
        const QString lockPath = m_sim->filePath(AgentFileKind::Lock);
        // Without a PIN set, no PIN opens the lock; then only the right one does.
        QCOMPARE(api("/unlock", { { u"pin"_s, QString() } }).status, 401);
        m_sim->setPin(u"246810"_s);
        QCOMPARE(api("/unlock", { { u"pin"_s, u"246811"_s } }).status, 401);
        QCOMPARE(fileObject(lockPath).value("locked"_L1), QJsonValue(true));
        // The file must already say unlocked when the answer arrives.
        QCOMPARE(api("/unlock", { { u"pin"_s, u"246810"_s } }).status, 200);
        QCOMPARE(fileObject(lockPath).value("locked"_L1), QJsonValue(false));
        QCOMPARE(fileObject(lockPath).value("command_uuid"_L1).toString(), u"cmd-7"_s);
    }

    // A reader on another thread must never catch a half-written file, whatever its size.
    void filesAreReplacedWhole()
    {
        const QString path = m_sim->filePath(AgentFileKind::Status);
        QVERIFY(m_sim->setStatus(u"connected"_s, u"first"_s));
        std::atomic<bool> done { false };
        std::atomic<int> reads { 0 }, broken { 0 };
        std::thread reader([&] {
            for (; !done; ++reads) {
                const auto bytes = pelk::boundary::readAgentFile(path);
                broken += !bytes || !pelk::json::parseObject(*bytes);
            }
        });
        for (int i = 0; i < 400; ++i)
            m_sim->setStatus(u"connected"_s, QString(i % 2 ? 20000 : 3, u'x'), { { u"round"_s, i } });
        done = true;
        reader.join();
        QVERIFY(reads > 0);
        QCOMPARE(broken.load(), 0);
        QCOMPARE(fileObject(path).value("round"_L1).toInt(), 399);
        QVERIFY(pelk::agent::timestamp(fileObject(path).value("updated_at"_L1).toString()).has_value());
        QCOMPARE(QFileInfo(path).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
    }

    void supportSessionRunsItsCourse()
    {
        m_sim->setWithdrawOfferOnEnd(true);
        QVERIFY(m_sim->putOffer({ u"s-1"_s, u"Sam"_s, u"control"_s, QDateTime::currentSecsSinceEpoch() + 600 }));
        QCOMPARE(fileObject(m_sim->filePath(AgentFileKind::Desktop)).value("url"_L1).toString(), m_sim->baseUrl());
        QCOMPARE(support(u"poll"_s), u"requested"_s);
        QCOMPARE(support(u"poll"_s, u"s-other"_s), u"ended"_s);
        QCOMPARE(support(u"accept"_s), u"active"_s);

        m_sim->queueEvents({ QJsonObject { { u"type"_s, u"move"_s } } });
        const QByteArray jpeg(600 * 1024, '\xd8'); // larger than any lock request may be
        const auto frame = [this](const QString &base64) {
            return api(
                "/support", { { u"action"_s, u"frame"_s }, { u"session_id"_s, u"s-1"_s }, { u"jpeg"_s, base64 } });
        };
        const Reply first = frame(QString::fromLatin1(jpeg.toBase64()));
        QCOMPARE(first.json().value("events"_L1).toArray().size(), 1);
        QCOMPARE(m_sim->lastFrame(), jpeg);
        QCOMPARE(frame(u"AAAA"_s).json().value("events"_L1).toArray().size(), 0); // handed out once
        QCOMPARE(frame(u"not base64!"_s).status, 400);

        QCOMPARE(support(u"stop"_s), u"ended"_s);
        QVERIFY(!fileObject(m_sim->filePath(AgentFileKind::Desktop)).contains("support"_L1));
        QCOMPARE(support(u"poll"_s), u"ended"_s);
    }

    void hostileClientsAreCutOff()
    {
        m_sim->setConnectionTimeout(200);
        // Headers that never end, and a body that never comes: both closed by the deadline.
        QVERIFY(simtest::rawExchange(m_sim->port(), "POST /unlock HTTP/1.1\r\nX-Pelk-Se").isEmpty());
        QVERIFY(simtest::rawExchange(m_sim->port(), simtest::post("/unlock", "{}").chopped(2)).isEmpty());
        QCOMPARE(simtest::parseReply(simtest::rawExchange(m_sim->port(), "\x16\x03\x01 garbage\r\n\r\n")).status, 400);
        // The server still answers properly afterwards, twice on one connection.
        const QByteArray one = "POST /presence HTTP/1.1\r\nX-Pelk-Session: token-1\r\nContent-Length: 18\r\n\r\n"
                               "{\"command_uuid\":1}";
        const QByteArray answers = simtest::rawExchange(
            m_sim->port(), one + simtest::post("/presence", "{\"command_uuid\":\"c\"}", "X-Pelk-Session: token-1\r\n"));
        QCOMPARE(answers.count("HTTP/1.1 "), 2);
        QVERIFY(answers.startsWith("HTTP/1.1 400") && answers.contains("HTTP/1.1 200"));
    }

    // Tests tear the simulator down while the application under test still holds connections.
    void goesAwayWithClientsConnected()
    {
        QTcpSocket idle, midRequest;
        idle.connectToHost(u"127.0.0.1"_s, m_sim->port());
        midRequest.connectToHost(u"127.0.0.1"_s, m_sim->port());
        QVERIFY(idle.waitForConnected(5000) && midRequest.waitForConnected(5000));
        midRequest.write("POST /unlock HTTP/1.1\r\nContent-Length: 10\r\n\r\n{");
        QTRY_COMPARE(m_sim->connectionCount(), 2);
        QSignalSpy closed(&midRequest, &QTcpSocket::disconnected);
        m_sim.reset();
        QVERIFY(closed.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TestAgentSimulator)
#include "test_agent_simulator.moc"
