#include "boundary/LocalApi.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace pelk::boundary;
using namespace Qt::StringLiterals;

namespace {

// Just enough HTTP/1.1 to see what arrives and answer with a chosen status line.
class TinyHttpServer : public QObject {
public:
    struct Received {
        QByteArray head;
        QByteArray body;
    };
    QByteArray statusLine = "200 OK";
    QByteArray extraHeaders;
    bool silent = false;
    QList<Received> received;

    TinyHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection())
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { onData(s); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    void onData(QTcpSocket *s)
    {
        QByteArray &buffer = m_buffers[s];
        buffer += s->readAll();
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray head = buffer.left(headEnd);
        qsizetype length = 0;
        for (const QByteArray &line : head.split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headEnd + 4 + length)
            return;
        received.append(Received { head, buffer.mid(headEnd + 4, length) });
        buffer.clear();
        if (silent)
            return;
        s->write("HTTP/1.1 " + statusLine + "\r\nContent-Length: 2\r\n" + extraHeaders + "\r\n{}");
        s->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

} // namespace

class TestLocalApi : public QObject {
    Q_OBJECT

    // Posts once through the real requester and waits for the one completion.
    std::optional<bool> post(NetworkApiRequester &api, quint16 port, const QByteArray &body = "{}")
    {
        const auto url = lockEndpointUrl(u"http://127.0.0.1:"_s + QString::number(port), u"unlock");
        const auto request = localApiRequest(*url, u"tok"_s);
        std::optional<bool> result;
        bool insidePost = true;
        api.post(*request, body, [&](bool ok) {
            if (insidePost)
                qFatal("completion ran inside post()");
            result = ok;
        });
        insidePost = false;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 15000); }();
        return result;
    }

private Q_SLOTS:
    void addressRule_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected"); // empty: nothing is sent
        QTest::newRow("plain") << u"http://127.0.0.1:8123"_s << u"http://127.0.0.1:8123/presence"_s;
        QTest::newRow("own path dropped")
            << u"http://127.0.0.1:8123/api/v1?x=1#f"_s << u"http://127.0.0.1:8123/presence"_s;
        QTest::newRow("leading zeros") << u"http://127.0.0.1:08123/"_s << u"http://127.0.0.1:8123/presence"_s;
        QTest::newRow("https") << u"https://127.0.0.1:8123"_s << QString();
        QTest::newRow("scheme case") << u"HTTP://127.0.0.1:8123"_s << QString();
        QTest::newRow("host name") << u"http://localhost:8123"_s << QString();
        QTest::newRow("other loopback") << u"http://127.0.0.2:8123"_s << QString();
        QTest::newRow("ipv6") << u"http://[::1]:8123"_s << QString();
        QTest::newRow("no port") << u"http://127.0.0.1/"_s << QString();
        QTest::newRow("port 0") << u"http://127.0.0.1:0"_s << QString();
        QTest::newRow("port too big") << u"http://127.0.0.1:65536"_s << QString();
        QTest::newRow("user") << u"http://agent@127.0.0.1:8123"_s << QString();
        QTest::newRow("host smuggled as user") << u"http://127.0.0.1:80@evil.example:8123"_s << QString();
    }
    void addressRule()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        const auto url = lockEndpointUrl(stored, u"presence");
        QCOMPARE(url ? url->toString() : QString(), expected);
    }

    void requestForm()
    {
        TinyHttpServer server;
        NetworkApiRequester api;
        QCOMPARE(post(api, server.port(), R"({"pin":"123456"})"), std::optional(true));
        QCOMPARE(server.received.size(), 1);
        const QByteArray head = server.received[0].head;
        QVERIFY2(head.startsWith("POST /unlock HTTP/1.1\r\n"), head.constData());
        QVERIFY(head.contains("\r\nContent-Type: application/json"));
        QVERIFY(head.contains("\r\nX-Pelk-Session: tok"));
        QCOMPARE(server.received[0].body, QByteArray(R"({"pin":"123456"})"));
        // No cache and no retry: the same request again reaches the server again, once.
        QCOMPARE(post(api, server.port()), std::optional(true));
        QCOMPARE(server.received.size(), 2);
    }

    void onlyStatus200Succeeds_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<bool>("success");
        QTest::newRow("200") << QByteArray("200 OK") << QByteArray() << true;
        QTest::newRow("204") << QByteArray("204 No Content") << QByteArray() << false;
        QTest::newRow("401") << QByteArray("401 Unauthorized") << QByteArray() << false;
        QTest::newRow("redirect") << QByteArray("307 Temporary Redirect")
                                  << QByteArray("Location: http://127.0.0.1:1/unlock\r\n") << false;
    }
    void onlyStatus200Succeeds()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, headers);
        QFETCH(bool, success);
        TinyHttpServer server;
        server.statusLine = status;
        server.extraHeaders = headers;
        NetworkApiRequester api;
        QCOMPARE(post(api, server.port()), std::optional(success));
        QCOMPARE(server.received.size(), 1);
    }

    void deadOrSilentAgentFails()
    {
        NetworkApiRequester api;
        quint16 deadPort = 0;
        {
            TinyHttpServer gone;
            deadPort = gone.port();
        }
        QCOMPARE(post(api, deadPort), std::optional(false));

        TinyHttpServer server;
        server.silent = true;
        QCOMPARE(post(api, server.port()), std::optional(false)); // cut off by the timeout
        QCOMPARE(server.received.size(), 1);
    }

    void sessionThatCannotBeAHeaderIsRefused()
    {
        const QUrl url(u"http://127.0.0.1:1/unlock"_s);
        QVERIFY(!localApiRequest(url, u"a\r\nX-Evil: 1"_s));
        QVERIFY(!localApiRequest(url, u"a\u0000b"_s));
        QVERIFY(localApiRequest(url, u"opaque-token_+/="_s));
    }
};

QTEST_GUILESS_MAIN(TestLocalApi)
#include "test_local_api.moc"
