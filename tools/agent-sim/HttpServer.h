#pragma once

#include "HttpMessage.h"
#include "HttpRequestParser.h"

#include <QHostAddress>
#include <QObject>
#include <QSet>

#include <functional>

class QTcpServer;

namespace pelk::agentsim {

class HttpConnection;

// A small HTTP/1.1 server on the loopback address, built to survive hostile clients:
// bounded heads and bodies, one request at a time per connection, keep-alive, and a
// deadline per connection so that slow or half-open clients are cut off.
class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;
    // Told about a request whose head arrived but which was refused before its body was read.
    using RejectHandler = std::function<void(const HttpRequest &head, int status)>;
    using BodyLimit = std::function<qint64(const QByteArray &path)>;

    explicit HttpServer(Handler handler, QObject *parent = nullptr);
    ~HttpServer() override;

    bool listen(quint16 port = 0);
    void close();
    quint16 port() const;
    bool isListening() const;

    void setRejectHandler(RejectHandler handler) { m_reject = std::move(handler); }
    void setBodyLimit(BodyLimit limit) { m_bodyLimit = std::move(limit); }
    // How long a connection may take to deliver a request, counted from its opening or from
    // the previous answer; an idle keep-alive connection is closed after the same time.
    void setConnectionTimeout(int ms) { m_timeoutMs = ms; }
    int connectionTimeout() const { return m_timeoutMs; }
    void setMaxConnections(int count) { m_maxConnections = count; }
    int connectionCount() const { return int(m_connections.size()); }

Q_SIGNALS:
    void connectionClosed();

private:
    friend class HttpConnection;
    void acceptConnections();

    QTcpServer *m_server;
    Handler m_handler;
    RejectHandler m_reject;
    BodyLimit m_bodyLimit;
    int m_timeoutMs = 10000;
    int m_maxConnections = 64;
    QSet<HttpConnection *> m_connections; // owned (children), removed by their destructors
};

} // namespace pelk::agentsim
