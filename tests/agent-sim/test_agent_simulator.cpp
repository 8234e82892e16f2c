#include "AgentSimulator.h"
#include "ControlServer.h"
#include "SimClient.h"
#include "agent/Timestamp.h"
#include "boundary/StrictJson.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace pelk::agentsim;
using namespace Qt::StringLiterals;
using simtest::fileObject;
using simtest::Reply;

namespace {

QByteArray post(quint16 port, const QByteArray &path, const QByteArray &headers, const QByteArray &body)
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" + headers
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

class TestAgentSimulator : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<AgentSimulator> m_sim;
    std::unique_ptr<ControlServer> m_control;
    QNetworkAccessManager m_network;

    Reply control(const QString &route, const QJsonObject &body = {})
    {
        return simtest::send(m_network, u"http://127.0.0.1:%1/control/%2"_s.arg(m_control->port()).arg(route),
            QJsonDocument(body).toJson());
    }

    Reply api(const QString &path, const QJsonObject &body)
    {
        return simtest::send(m_network, m_sim->baseUrl() + path, QJsonDocument(body).toJson(),
            { { "X-Pelk-Session", m_sim->session().toUtf8() } });
    }
    Reply support(const QString &action, const QString &sessionId = u"s-1"_s, QJsonObject extra = {})
    {
        extra.insert(u"action"_s, action);
        extra.insert(u"session_id"_s, sessionId);
        return api(u"/support"_s, extra);
    }

private Q_SLOTS:
    void init()
    {
        m_sim = std::make_unique<AgentSimulator>(m_dir.path());
        m_sim->setSession(u"token-1"_s);
        m_control = std::make_unique<ControlServer>(*m_sim);
        QVERIFY(m_sim->listen());
        QVERIFY(m_control->listen());
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
        QFETCH(int, status);
        const QByteArray body = "{\"command_uuid\":\"c-1\"}";
        QCOMPARE(
            simtest::statusOf(simtest::rawExchange(m_sim->port(), post(m_sim->port(), "/presence", headers, body))),
            status);
    }

    void pinDecidesTheUnlock()
    {
        QVERIFY(m_sim->lock(u"cmd-7"_s, u"Call IT"_s));
        const QString lockPath = m_sim->filePath(AgentFileKind::Lock);
        // Without a PIN set, no PIN opens the lock; then only the right one does.
        QCOMPARE(api(u"/unlock"_s, { { u"pin"_s, QString() } }).status, 401);
        m_sim->setPin(u"246810"_s);
        QCOMPARE(api(u"/unlock"_s, { { u"pin"_s, u"246811"_s } }).status, 401);
        QCOMPARE(fileObject(lockPath).value("locked"_L1), QJsonValue(true));
        // The file must already say unlocked when the answer arrives.
        QCOMPARE(api(u"/unlock"_s, { { u"pin"_s, u"246810"_s } }).status, 200);
        QCOMPARE(fileObject(lockPath).value("locked"_L1), QJsonValue(false));
        QCOMPARE(fileObject(lockPath).value("command_uuid"_L1).toString(), u"cmd-7"_s);
    }

    // A reader on another thread must never catch a half-written file, whatever its size.
    void filesAreReplacedWhole()
    {
        const QString path = m_sim->filePath(AgentFileKind::Status);
        QVERIFY(m_sim->setStatus(u"connected"_s, u"first"_s));
        std::atomic<bool> done { false };
        std::atomic<int> reads { 0 };
        std::atomic<int> broken { 0 };
        std::thread reader([&] {
            while (!done) {
                const auto bytes = pelk::boundary::readAgentFile(path);
                if (!bytes || !pelk::json::parseObject(*bytes))
                    ++broken;
                ++reads;
            }
        });
        for (int i = 0; i < 400; ++i) {
            const QString message = QString(i % 2 ? 20000 : 3, u'x');
            m_sim->setStatus(u"connected"_s, message, { { u"round"_s, i } });
        }
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
        const qint64 expires = QDateTime::currentSecsSinceEpoch() + 600;
        QVERIFY(m_sim->putOffer({ u"s-1"_s, u"Sam"_s, u"control"_s, expires }));
        const QJsonObject desktop = fileObject(m_sim->filePath(AgentFileKind::Desktop));
        QCOMPARE(desktop.value("url"_L1).toString(), m_sim->baseUrl());
        QCOMPARE(desktop.value("support"_L1).toObject().value("expires_at"_L1).toInteger(), expires);

        QCOMPARE(support(u"poll"_s).json().value("status"_L1).toString(), u"requested"_s);
        QCOMPARE(support(u"poll"_s, u"s-other"_s).json().value("status"_L1).toString(), u"ended"_s);
        QCOMPARE(support(u"accept"_s).json().value("status"_L1).toString(), u"active"_s);
        QCOMPARE(m_sim->supportState(), SupportState::Active);

        m_sim->queueEvents({ QJsonObject { { u"type"_s, u"move"_s } } });
        QCOMPARE(m_sim->stampEvent({}).value("sequence"_L1).toInteger(), 1);
        const QByteArray jpeg(600 * 1024, '\xd8'); // larger than any lock request may be
        const Reply frame = support(u"frame"_s, u"s-1"_s, { { u"jpeg"_s, QString::fromLatin1(jpeg.toBase64()) } });
        QCOMPARE(frame.status, 200);
        QCOMPARE(frame.json().value("events"_L1).toArray().size(), 1);
        QCOMPARE(m_sim->lastFrame(), jpeg);
        // Events are handed out once.
        const Reply second = support(u"frame"_s, u"s-1"_s, { { u"jpeg"_s, u"AAAA"_s } });
        QCOMPARE(second.json().value("events"_L1).toArray().size(), 0);
        QCOMPARE(support(u"frame"_s, u"s-1"_s, { { u"jpeg"_s, u"not base64!"_s } }).status, 400);

        QCOMPARE(support(u"stop"_s).json().value("status"_L1).toString(), u"ended"_s);
        QCOMPARE(m_sim->supportState(), SupportState::Ended);
        QVERIFY(!fileObject(m_sim->filePath(AgentFileKind::Desktop)).contains("support"_L1));
        QCOMPARE(support(u"poll"_s).json().value("status"_L1).toString(), u"ended"_s);
    }

    void lockBodiesAreBounded()
    {
        // The client may see the refusal or a reset connection; the agent must not take it.
        const Reply reply = api(u"/unlock"_s, { { u"pin"_s, QString(AgentSimulator::kMaxLockBodyBytes, u'1') } });
        QVERIFY(reply.status == 413 || reply.status == 0);
        QCOMPARE(m_sim->requests().constLast().status, 413);
    }

    void hostileClientsAreCutOff()
    {
        m_sim->setConnectionTimeout(200);
        // Headers that never end, and a body that never comes: both closed by the deadline.
        QVERIFY(simtest::rawExchange(m_sim->port(), "POST /unlock HTTP/1.1\r\nX-Pelk-Se").isEmpty());
        QVERIFY(simtest::rawExchange(m_sim->port(), post(m_sim->port(), "/unlock", {}, "{}").chopped(2)).isEmpty());
        QCOMPARE(simtest::statusOf(simtest::rawExchange(m_sim->port(), "\x16\x03\x01 garbage\r\n\r\n")), 400);
        // The server still answers properly afterwards, twice on one connection.
        const QByteArray one = "POST /presence HTTP/1.1\r\nX-Pelk-Session: token-1\r\nContent-Length: 18\r\n\r\n"
                               "{\"command_uuid\":1}";
        const QByteArray answers = simtest::rawExchange(m_sim->port(),
            one + post(m_sim->port(), "/presence", "X-Pelk-Session: token-1\r\n", "{\"command_uuid\":\"c\"}"));
        QCOMPARE(answers.count("HTTP/1.1 "), 2);
        QVERIFY(answers.startsWith("HTTP/1.1 400"));
        QVERIFY(answers.contains("HTTP/1.1 200"));
    }

    // Tests tear the simulator down while the application under test still holds connections.
    void goesAwayWithClientsConnected()
    {
        QTcpSocket idle;
        QTcpSocket midRequest;
        idle.connectToHost(u"127.0.0.1"_s, m_sim->port());
        midRequest.connectToHost(u"127.0.0.1"_s, m_sim->port());
        QVERIFY(idle.waitForConnected(5000) && midRequest.waitForConnected(5000));
        midRequest.write("POST /unlock HTTP/1.1\r\nContent-Length: 10\r\n\r\n{");
        QTRY_COMPARE(m_sim->connectionCount(), 2);
        QSignalSpy closed(&midRequest, &QTcpSocket::disconnected);
        m_sim.reset();
        QVERIFY(closed.wait(5000));
    }

    // Raw bytes reach the file as given (for the garbled-file tests), and only valid Base64 does.
    void controlWritesRawFiles()
    {
        QCOMPARE(control(u"raw"_s, { { u"file"_s, u"lock"_s }, { u"bytes_b64"_s, u"*"_s } }).status, 400);
        QCOMPARE(control(u"raw"_s, { { u"file"_s, u"lock"_s }, { u"bytes_b64"_s, u"AP8K"_s } }).status, 200);
        QCOMPARE(pelk::boundary::readAgentFile(m_sim->filePath(AgentFileKind::Lock)),
            std::optional(QByteArray("\0\xff\n", 3)));
        QCOMPARE(control(u"remove"_s, { { u"file"_s, u"lock"_s } }).status, 200);
        QVERIFY(!QFile::exists(m_sim->filePath(AgentFileKind::Lock)));
    }

    // The command as a shell or a Python test runs it.
    void commandLineRoundTrip()
    {
        QTemporaryDir dir;
        QProcess sim;
        sim.start(QStringLiteral(AGENT_SIM_PATH),
            { u"--dir"_s, dir.path() + u"/state"_s, u"--pin"_s, u"424242"_s, u"--session"_s, u"abc"_s });
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
        const QJsonObject ready = QJsonDocument::fromJson(sim.readLine()).object();
        const int port = ready.value("port"_L1).toInt();
        const int controlPort = ready.value("control_port"_L1).toInt();
        QVERIFY(port > 0 && controlPort > 0);
        QCOMPARE(ready.value("session"_L1).toString(), u"abc"_s);
        QCOMPARE(ready.value("base_url"_L1).toString(), u"http://127.0.0.1:%1"_s.arg(port));

        const QString controlUrl = u"http://127.0.0.1:%1/control/"_s.arg(controlPort);
        QCOMPARE(simtest::send(m_network, controlUrl + u"lock"_s, "{}").status, 200);
        const QByteArray pin = QJsonDocument(QJsonObject { { u"pin"_s, u"424242"_s } }).toJson();
        QCOMPARE(
            simtest::send(m_network, u"http://127.0.0.1:%1/unlock"_s.arg(port), pin, { { "X-Pelk-Session", "abc" } })
                .status,
            200);
        QCOMPARE(fileObject(dir.path() + u"/state/agent-lock.json"_s).value("locked"_L1), QJsonValue(false));
        QCOMPARE(simtest::send(m_network, controlUrl + u"quit"_s, "").status, 200);
        // The exit may already have been noticed while the answer was awaited, and then
        // waitForFinished() reports false.
        QVERIFY(sim.state() == QProcess::NotRunning || sim.waitForFinished(10000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);

        QProcess wrong;
        wrong.start(QStringLiteral(AGENT_SIM_PATH), { u"--port"_s, u"1"_s });
        QVERIFY(wrong.state() == QProcess::NotRunning || wrong.waitForFinished(10000));
        QCOMPARE(wrong.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAgentSimulator)
#include "test_agent_simulator.moc"
