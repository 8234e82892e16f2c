#include "AgentSimulator.h"
#include "ControlServer.h"
#include "SimClient.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk::agentsim;
using namespace Qt::StringLiterals;
using simtest::fileObject;
using simtest::Reply;

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
