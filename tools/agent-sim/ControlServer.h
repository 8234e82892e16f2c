#pragma once

#include "HttpMessage.h"

#include <QJsonObject>
#include <QObject>

namespace pelk::agentsim {

class AgentSimulator;
class HttpServer;

// Drives an AgentSimulator from another process: a small JSON API on 127.0.0.1 for shell
// scripts and end-to-end tests (see README.md next to this file for the routes).
class ControlServer : public QObject {
    Q_OBJECT
public:
    explicit ControlServer(AgentSimulator &simulator, QObject *parent = nullptr);

    bool listen(quint16 port = 0);
    quint16 port() const;

    // The answer to one control request; public so tests can drive it without a socket.
    HttpResponse handle(const HttpRequest &request);

    // The simulator's addresses and state, as GET /control/state answers it.
    QJsonObject stateJson() const;

    static constexpr qint64 kMaxBodyBytes = 32 * 1024 * 1024; // raw files of several MB, Base64

Q_SIGNALS:
    void quitRequested();

private:
    HttpResponse post(const QByteArray &route, const QJsonObject &body);
    HttpResponse requestsJson(const QByteArray &query) const;

    AgentSimulator &m_simulator;
    HttpServer *m_server;
};

} // namespace pelk::agentsim
