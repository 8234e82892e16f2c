#include "HttpServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace pelk::agentsim {

namespace {
// The socket's own buffer is kept small so a client that floods us meets TCP back-pressure
// instead of our memory; the parser holds at most one request beyond it.
constexpr qint64 kSocketBufferBytes = 64 * 1024;
} // namespace

// One accepted connection: reads requests one at a time and writes the answers in order.
class HttpConnection : public QObject {
public:
    HttpConnection(QTcpSocket *socket, HttpServer *server)
        : QObject(server), m_socket(socket), m_server(server), m_parser({ 16 * 1024, 64, server->m_bodyLimit })
    {
        m_server->m_connections.insert(this);
        m_socket->setParent(this);
        m_socket->setReadBufferSize(kSocketBufferBytes);
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { finish(true); });
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { process(); });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { finish(false); });
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                finish(false);
        });
        armDeadline();
        process();
    }

    ~HttpConnection() override
    {
        m_server->m_connections.remove(this);
        Q_EMIT m_server->connectionClosed();
    }

private:
    void armDeadline()
    {
        if (m_server->m_timeoutMs > 0)
            m_deadline.start(m_server->m_timeoutMs);
    }

    // Ends the connection at once (a deadline passed, the peer went away, or an answer is dropped).
    void finish(bool abort)
    {
        m_busy = true;
        m_deadline.stop();
        if (abort && m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->abort();
        if (!m_deleting) {
            m_deleting = true;
            deleteLater();
        }
    }

    // Ends the connection once the answer written so far has gone out.
    void closeAfterWrite()
    {
        m_busy = true;
        m_closing = true;
        m_socket->disconnectFromHost();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            finish(false);
        else
            m_deadline.start(qMax(m_server->m_timeoutMs, 1000));
    }

    void process()
    {
        while (!m_busy) {
            const HttpRequestParser::Result result = m_parser.parse();
            if (result == HttpRequestParser::Result::Error) {
                refuse();
                return;
            }
            if (result == HttpRequestParser::Result::NeedMore) {
                if (m_parser.headComplete() && !m_continued && m_parser.expectsContinue()) {
                    m_continued = true;
                    m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
                }
                if (m_socket->bytesAvailable() <= 0)
                    return;
                m_parser.append(m_socket->read(kSocketBufferBytes));
                continue;
            }
            handle(m_parser.takeRequest());
        }
    }

    void handle(const HttpRequest &request)
    {
        m_deadline.stop();
        m_continued = false;
        const bool keepAlive = request.keepAlive();
        const HttpResponse response = m_server->m_handler(request);
        if (response.delayMs <= 0) {
            answer(response, keepAlive);
            return;
        }
        m_busy = true;
        QTimer::singleShot(response.delayMs, this, [this, response, keepAlive] {
            if (m_closing || m_deleting)
                return;
            m_busy = false;
            answer(response, keepAlive);
            process();
        });
    }

    void answer(const HttpResponse &response, bool keepAlive)
    {
        if (m_closing || m_deleting)
            return;
        if (response.drop) {
            finish(true);
            return;
        }
        const bool open = keepAlive && !response.close;
        m_socket->write(serialize(response, open));
        if (open)
            armDeadline();
        else
            closeAfterWrite();
    }

    void refuse()
    {
        const int status = m_parser.errorStatus();
        if (m_parser.hasHead() && m_server->m_reject)
            m_server->m_reject(m_parser.current(), status);
        HttpResponse response = HttpResponse::json(status, "{\"error\":\"" + reasonPhrase(status) + "\"}");
        answer(response, false);
    }

    QTcpSocket *m_socket;
    HttpServer *m_server;
    HttpRequestParser m_parser;
    QTimer m_deadline;
    bool m_busy = false; // an answer is pending or the connection is ending
    bool m_closing = false;
    bool m_deleting = false;
    bool m_continued = false;
};

HttpServer::HttpServer(Handler handler, QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this)), m_handler(std::move(handler)),
      m_bodyLimit([](const QByteArray &) { return qint64(64 * 1024); })
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::acceptConnections);
}

HttpServer::~HttpServer()
{
    // Connections are children; they must go while the set they leave still exists.
    const QSet<HttpConnection *> connections = m_connections;
    for (HttpConnection *connection : connections)
        delete connection;
}

bool HttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

void HttpServer::close()
{
    m_server->close();
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

bool HttpServer::isListening() const
{
    return m_server->isListening();
}

void HttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= m_maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new HttpConnection(socket, this);
    }
}

} // namespace pelk::agentsim
