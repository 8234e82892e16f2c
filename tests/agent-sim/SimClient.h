#pragma once

// Blocking HTTP for the simulator's tests over a plain socket, so that a test controls every byte:
// what a real client sends as well as what no well-behaved client would.

#include "boundary/AgentFile.h"
#include "boundary/StrictJson.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>

namespace simtest {

// Writes bytes on a fresh connection and collects everything the server sends until it
// closes the connection (or 10 s pass).
inline QByteArray rawExchange(quint16 port, const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
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

inline QByteArray post(const QByteArray &path, const QByteArray &body, const QByteArray &headers = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers
        + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

struct Reply {
    int status = 0; // 0 when no HTTP answer arrived
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

inline Reply parseReply(const QByteArray &raw)
{
    const qsizetype end = raw.indexOf("\r\n\r\n");
    return { raw.startsWith("HTTP/1.1 ") ? raw.mid(9, 3).toInt() : 0, end < 0 ? QByteArray() : raw.mid(end + 4) };
}

inline Reply send(quint16 port, const QByteArray &path, const QJsonObject &body, const QByteArray &headers = {})
{
    return parseReply(rawExchange(port, post(path, QJsonDocument(body).toJson(QJsonDocument::Compact), headers)));
}

// An agent file as a JSON object; empty when it is missing or undecodable.
inline QJsonObject fileObject(const QString &path)
{
    const auto bytes = pelk::boundary::readAgentFile(path);
    return bytes ? pelk::json::parseObject(*bytes).value_or(QJsonObject()) : QJsonObject();
}

} // namespace simtest
