#include "AgentSimulator.h"
#include "HttpRequestParser.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace pelk::agentsim;
using namespace Qt::StringLiterals;
using Result = HttpRequestParser::Result;

namespace {

// Writes bytes on a fresh connection over a plain socket, so that a test controls every byte,
// and collects everything the server sends until it closes the connection.
QByteArray rawExchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_s, port);
    if (!socket.waitForConnected(5000))
        return "(no connection)";
    socket.write(bytes);
    QByteArray received;
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    if (socket.state() == QAbstractSocket::ConnectedState && !closed.wait(10000))
        return "(left open)";
    return received + socket.readAll();
}

HttpRequestParser makeParser()
{
    return HttpRequestParser({ 1024, 8, [](auto &path) { return path == "/big" ? 4096 : 16; } });
}

} // namespace

// The fake agent the demo and the end-to-end tests run against: what those runs take for granted
// and do not show themselves (the session check, hostile clients, teardown), and its HTTP parser.
class TestAgentSimulator : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<AgentSimulator> m_sim;

private Q_SLOTS:
    void init()
    {
        m_sim = std::make_unique<AgentSimulator>(m_dir.path());
        m_sim->setSession(u"token-1"_s);
        QVERIFY(m_sim->listen());
    }
    void cleanup() { m_sim.reset(); }

    // The session header, in any letter case, exactly once.
    void sessionHeaderIsChecked()
    {
        const QByteArray right = "X-Pelk-Session: token-1\r\n";
        const QByteArray rest = "Content-Length: 20\r\nConnection: close\r\n\r\n{\"command_uuid\":\"c\"}";
        for (const auto &[headers, status] : { std::pair(right, "200"), std::pair(right.toLower(), "200"),
                 std::pair(QByteArray(), "401"), std::pair(QByteArray("X-Pelk-Session: token-2\r\n"), "403"),
                 std::pair(QByteArray(right + right), "403") })
            QCOMPARE(rawExchange(m_sim->port(), "POST /presence HTTP/1.1\r\n" + headers + rest).left(12),
                "HTTP/1.1 "_ba + status);
    }

    // Headers that never end and a body that never comes are cut off by the deadline; the server
    // answers two requests on one connection, a bad one first, and goes away (as tests tear it
    // down) while clients still hold connections.
    void hostileClientsAndTeardown()
    {
        m_sim->setConnectionTimeout(200);
        for (const QByteArray &stalled :
            { "POST /unlock HTTP/1.1\r\nX-Pelk-Se"_ba, "POST /unlock HTTP/1.1\r\nContent-Length: 2\r\n\r\n{"_ba })
            QCOMPARE(rawExchange(m_sim->port(), stalled), QByteArray());
        const QByteArray presence = "POST /presence HTTP/1.1\r\nX-Pelk-Session: token-1\r\nContent-Length: 19\r\n";
        const QByteArray answers = rawExchange(m_sim->port(),
            presence + "\r\n{\"command_uuid\":12}" + presence + "Connection: close\r\n\r\n{\"command_uuid\":\"\"}");
        QVERIFY(answers.startsWith("HTTP/1.1 400") && answers.contains("HTTP/1.1 200"));
        m_sim->setConnectionTimeout(60000);
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

    // That they come out the same however the bytes arrive is the fuzz target's property.
    void parserAccepts_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("requests"); // path, body and "close" unless kept alive
        QTest::newRow("crlf") << "POST /unlock HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"_ba
                              << "/unlock hello;"_ba;
        QTest::newRow("bare lf") << "POST /unlock HTTP/1.1\nContent-Length: 2\n\nhi"_ba
                                 << "/unlock hi;"_ba;
        QTest::newRow("query and doubled slash") << "POST //support?a=b HTTP/1.1\r\nContent-Length: 0\r\n\r\n"_ba
                                                 << "/support ;"_ba;
        QTest::newRow("per-path limit") << "POST /big HTTP/1.1\r\nContent-Length: 20\r\n\r\n" + QByteArray(20, 'x')
                                        << "/big " + QByteArray(20, 'x') + ';';
        QTest::newRow("pipelined") << "POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcPOST /b HTTP/1.1\r\n"
                                      "Connection: close\r\nContent-Length: 4\r\n\r\ndefg"_ba
                                   << "/a abc;/b defg close;"_ba;
    }
    void parserAccepts()
    {
        QFETCH(QByteArray, wire);
        HttpRequestParser parser = makeParser();
        parser.append(wire);
        QByteArray requests;
        for (Result result; (result = parser.parse()) != Result::NeedMore;) {
            QCOMPARE(result, Result::Complete);
            const HttpRequest request = parser.takeRequest();
            requests += request.path + ' ' + request.body + (request.keepAlive() ? ";" : " close;");
        }
        QTEST(requests, "requests");
    }

    void parserRefuses_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("headKnown");
        const QByteArray line = "POST /x HTTP/1.1\r\n";
        QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x05\x01\r\n\r\n") << 400 << false;
        QTest::newRow("http/2") << QByteArray("POST /x HTTP/2.0\r\n\r\n") << 505 << false;
        QTest::newRow("no colon") << line + "Content-Length 3\r\n\r\n" << 400 << false;
        QTest::newRow("folded field") << line + "A: b\r\n c\r\n\r\n" << 400 << false;
        QTest::newRow("control in value") << line + "A: b\x01\r\n\r\n" << 400 << false;
        QTest::newRow("negative length") << line + "Content-Length: -1\r\n\r\n" << 400 << true;
        QTest::newRow("conflicting lengths") << line + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n" << 400 << true;
        QTest::newRow("too long") << line + "Content-Length: 17\r\n\r\n" << 413 << true;
        QTest::newRow("chunked") << line + "Transfer-Encoding: chunked\r\n\r\n" << 501 << true;
        QTest::newRow("too many fields") << line + QByteArray("A: b\r\n").repeated(9) + "\r\n" << 431 << false;
        QTest::newRow("endless head") << line + QByteArray("A: ") + QByteArray(2000, 'b') << 431 << false;
    }
    void parserRefuses()
    {
        QFETCH(QByteArray, wire);
        HttpRequestParser parser = makeParser();
        parser.append(wire);
        QCOMPARE(parser.parse(), Result::Error);
        QTEST(parser.errorStatus(), "status");
        QTEST(parser.hasHead(), "headKnown");
        parser.append("POST /x HTTP/1.1\r\n\r\n"); // nothing after an error is read
        QCOMPARE(parser.parse(), Result::Error);
    }
};

QTEST_GUILESS_MAIN(TestAgentSimulator)
#include "test_agent_simulator.moc"
