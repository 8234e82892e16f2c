#include "AgentSimulator.h"
#include "HttpRequestParser.h"
#include "agent/Timestamp.h"
#include "boundary/AgentFile.h"
#include "boundary/StrictJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace pelk::agentsim;
using namespace Qt::StringLiterals;
using Result = HttpRequestParser::Result;

namespace {

// Writes bytes on a fresh connection over a plain socket, so that a test controls every byte,
// and collects everything the server sends until it closes the connection (or 10 s pass).
QByteArray rawExchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_s, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(bytes);
    QByteArray received;
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    if (socket.state() == QAbstractSocket::ConnectedState)
        closed.wait(10000);
    return received + socket.readAll();
}

struct Reply {
    int status = 0; // 0 when no HTTP answer arrived
    QJsonObject json;
};

// An agent file as a JSON object; empty when it is missing or undecodable.
QJsonObject fileObject(const QString &path)
{
    const auto bytes = pelk::boundary::readAgentFile(path);
    return bytes ? pelk::json::parseObject(*bytes).value_or(QJsonObject()) : QJsonObject();
}

} // namespace

// The fake agent the demo and the end-to-end tests run against, and its HTTP request parser.
class TestAgentSimulator : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<AgentSimulator> m_sim;

    Reply api(
        const QByteArray &path, const QJsonObject &body, const QByteArray &headers = "X-Pelk-Session: token-1\r\n")
    {
        const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
        const QByteArray raw = rawExchange(m_sim->port(),
            "POST " + path + " HTTP/1.1\r\n" + headers + "Content-Length: " + QByteArray::number(json.size())
                + "\r\nConnection: close\r\n\r\n" + json);
        return { raw.startsWith("HTTP/1.1 ") ? raw.mid(9, 3).toInt() : 0,
            QJsonDocument::fromJson(raw.mid(raw.indexOf("\r\n\r\n") + 4)).object() };
    }
    static HttpRequestParser makeParser()
    {
        return HttpRequestParser({ 1024, 8, [](auto &path) { return path == "/big" ? 4096 : 16; } });
    }
    QString support(const QString &action, const QString &sessionId)
    {
        return api("/support", { { u"action"_s, action }, { u"session_id"_s, sessionId } }).json[u"status"].toString();
    }

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
        for (const auto &[headers, status] :
            { std::pair(right, 200), std::pair(right.toLower(), 200), std::pair(QByteArray(), 401),
                std::pair(QByteArray("X-Pelk-Session: token-2\r\n"), 403), std::pair(QByteArray(right + right), 403) })
            QCOMPARE(api("/presence", { { u"command_uuid"_s, u"c-1"_s } }, headers).status, status);
    }

    // A reader on another thread must never catch a half-written file, whatever its size.
    void filesAreReplacedWhole()
    {
        const QString path = m_sim->filePath(AgentFileKind::Status);
        QVERIFY(m_sim->setStatus(u"connected"_s, u"first"_s));
        std::atomic<bool> done { false };
        std::atomic<int> reads { 0 }, broken { 0 };
        std::thread reader([&] {
            for (; !done; ++reads)
                broken += fileObject(path).isEmpty();
        });
        for (int i = 0; i < 400; ++i)
            m_sim->setStatus(u"connected"_s, QString(i % 2 ? 20000 : 3, u'x'), { { u"round"_s, i } });
        done = true;
        reader.join();
        QVERIFY(reads > 0 && broken == 0);
        QCOMPARE(fileObject(path).value("round"_L1).toInt(), 399);
        QVERIFY(pelk::agent::timestamp(fileObject(path).value("updated_at"_L1).toString()).has_value());
        QCOMPARE(QFileInfo(path).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
    }

    // What the end-to-end support run does not show: a session's events are handed out once, with
    // any frame (larger than any lock request may be), and a frame that is not base64 is refused.
    void supportFramesAndEvents()
    {
        QVERIFY(m_sim->putOffer({ u"s-1"_s, u"Sam"_s, u"control"_s, QDateTime::currentSecsSinceEpoch() + 600 }));
        QCOMPARE(support(u"accept"_s, u"s-1"_s), u"active"_s);
        m_sim->queueEvents({ QJsonObject { { u"type"_s, u"move"_s } } });
        const QByteArray jpeg(600 * 1024, '\xd8');
        for (const auto &[base64, status, events] : { std::tuple(QString::fromLatin1(jpeg.toBase64()), 200, 1),
                 std::tuple(u"AAAA"_s, 200, 0), std::tuple(u"not base64!"_s, 400, 0) }) {
            const Reply reply = api(
                "/support", { { u"action"_s, u"frame"_s }, { u"session_id"_s, u"s-1"_s }, { u"jpeg"_s, base64 } });
            QVERIFY(reply.status == status && reply.json.value("events"_L1).toArray().size() == events);
        }
        QCOMPARE(m_sim->lastFrame(), QByteArray::fromBase64("AAAA"));
        QCOMPARE(support(u"poll"_s, u"s-other"_s), u"ended"_s);
    }

    // Headers that never end and a body that never comes are cut off by the deadline; the server
    // still answers properly afterwards, twice on one connection, and goes away (as tests tear it
    // down) while clients still hold connections.
    void hostileClientsAndTeardown()
    {
        m_sim->setConnectionTimeout(200);
        QVERIFY(rawExchange(m_sim->port(), "POST /unlock HTTP/1.1\r\nX-Pelk-Se").isEmpty());
        QVERIFY(rawExchange(m_sim->port(), "POST /unlock HTTP/1.1\r\nContent-Length: 2\r\n\r\n{").isEmpty());
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

    // Whole, and byte by byte: the result must not depend on how the bytes arrive.
    void parserAccepts_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("request"); // path and body
        QTest::newRow("crlf") << QByteArray("POST /unlock HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello")
                              << QByteArray("/unlock hello");
        QTest::newRow("bare lf") << QByteArray("POST /unlock HTTP/1.1\nContent-Length: 2\n\nhi")
                                 << QByteArray("/unlock hi");
        QTest::newRow("query and doubled slash")
            << QByteArray("POST //support?a=b HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QByteArray("/support ");
        QTest::newRow("per-path limit") << "POST /big HTTP/1.1\r\nContent-Length: 20\r\n\r\n" + QByteArray(20, 'x')
                                        << "/big " + QByteArray(20, 'x');
    }
    void parserAccepts()
    {
        QFETCH(QByteArray, wire);
        for (const qsizetype step : { wire.size(), qsizetype(1) }) {
            HttpRequestParser parser = makeParser();
            Result result = Result::NeedMore;
            for (qsizetype i = 0; i < wire.size() && result == Result::NeedMore; i += step) {
                parser.append(wire.mid(i, step));
                result = parser.parse();
            }
            QCOMPARE(result, Result::Complete);
            const HttpRequest request = parser.takeRequest();
            QTEST(QByteArray(request.path + ' ' + request.body), "request");
        }
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

    // Two requests in one read stay apart; a body waits for its whole length.
    void parserKeepsPipelinedRequestsApart()
    {
        HttpRequestParser parser = makeParser();
        parser.append("POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcPOST /b HTTP/1.1\r\nConnection: close\r\n"
                      "Expect: 100-continue\r\nContent-Length: 4\r\n\r\nde");
        QCOMPARE(parser.parse(), Result::Complete);
        const HttpRequest first = parser.takeRequest();
        QVERIFY(first.body == "abc" && first.keepAlive());
        QCOMPARE(parser.parse(), Result::NeedMore);
        QVERIFY(parser.headComplete() && parser.expectsContinue());
        parser.append("fg");
        QCOMPARE(parser.parse(), Result::Complete);
        const HttpRequest second = parser.takeRequest();
        QVERIFY(second.path == "/b" && second.body == "defg" && !second.keepAlive());
        QCOMPARE(parser.parse(), Result::NeedMore);
    }
};

QTEST_GUILESS_MAIN(TestAgentSimulator)
#include "test_agent_simulator.moc"
