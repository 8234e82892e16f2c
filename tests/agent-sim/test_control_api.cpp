#include "AgentSimulator.h"
#include "ControlServer.h"
#include "SimClient.h"
#include "agent/AgentFile.h"
#include "agent/StrictJson.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk::agentsim;
using namespace Qt::StringLiterals;
using simtest::Reply;

namespace {

QJsonObject fileObject(const QString &path)
{
    const auto bytes = pelk::agent::readAgentFile(path);
    return bytes ? pelk::json::parseObject(*bytes).value_or(QJsonObject()) : QJsonObject();
}

} // namespace

class TestControlApi : public QObject {
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

private Q_SLOTS:
    void init()
    {
        m_sim = std::make_unique<AgentSimulator>(m_dir.path());
        m_control = std::make_unique<ControlServer>(*m_sim);
        QVERIFY(m_sim->listen());
        QVERIFY(m_control->listen());
    }
    void cleanup()
    {
        m_control.reset();
        m_sim.reset();
    }

    void filesFollowTheControlApi()
    {
        const Reply locked = control(u"lock"_s, { { u"message"_s, u"Call IT"_s } });
        QCOMPARE(locked.status, 200);
        const QJsonObject lockFile = fileObject(m_sim->filePath(AgentFileKind::Lock));
        QCOMPARE(lockFile.value("locked"_L1), QJsonValue(true));
        QCOMPARE(lockFile.value("message"_L1).toString(), u"Call IT"_s);
        QCOMPARE(lockFile.value("command_uuid"_L1), locked.json().value("command_uuid"_L1));
        QCOMPARE(control(u"unlock"_s).status, 200);
        QCOMPARE(fileObject(m_sim->filePath(AgentFileKind::Lock)).value("locked"_L1), QJsonValue(false));

        QCOMPARE(control(u"status"_s, { { u"phase"_s, u"offline"_s }, { u"message"_s, u"m"_s }, { u"device_id"_s, 7 } })
                     .status,
            200);
        const QJsonObject status = fileObject(m_sim->filePath(AgentFileKind::Status));
        QCOMPARE(status.value("phase"_L1).toString(), u"offline"_s);
        QCOMPARE(status.value("device_id"_L1).toInt(), 7);
        QVERIFY(status.contains("updated_at"_L1));
        QCOMPARE(control(u"status"_s, { { u"phase"_s, u"offline"_s } }).status, 400);

        const Reply offer = control(u"offer"_s, { { u"technician"_s, u"Sam"_s }, { u"expires_in"_s, 60 } });
        QCOMPARE(offer.status, 200);
        const QJsonObject support = fileObject(m_sim->filePath(AgentFileKind::Desktop)).value("support"_L1).toObject();
        QCOMPARE(support.value("session_id"_L1), offer.json().value("session_id"_L1));
        QCOMPARE(support.value("mode"_L1).toString(), u"view"_s);
        QCOMPARE(control(u"offer"_s, { { u"clear"_s, true } }).status, 200);
        QVERIFY(!fileObject(m_sim->filePath(AgentFileKind::Desktop)).contains("support"_L1));
    }

    void rawFilesAndRemoval_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("garbled lock") << QJsonObject { { u"file"_s, u"lock"_s }, { u"bytes_b64"_s, u"AP8K"_s } } << 200;
        QTest::newRow("not base64") << QJsonObject { { u"file"_s, u"lock"_s }, { u"bytes_b64"_s, u"*"_s } } << 400;
    }
    void rawFilesAndRemoval()
    {
        QFETCH(QJsonObject, body);
        QFETCH(int, status);
        QCOMPARE(control(u"raw"_s, body).status, status);
        if (status != 200)
            return;
        const auto kind = agentFileKind(body.value("file"_L1).toString());
        const auto bytes = QByteArray::fromBase64(body.value("bytes_b64"_L1).toString().toLatin1());
        QCOMPARE(pelk::agent::readAgentFile(m_sim->filePath(*kind)), std::optional(bytes));
        QCOMPARE(control(u"remove"_s, { { u"file"_s, body.value("file"_L1) } }).status, 200);
        QVERIFY(!QFile::exists(m_sim->filePath(*kind)));
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

QTEST_GUILESS_MAIN(TestControlApi)
#include "test_control_api.moc"
