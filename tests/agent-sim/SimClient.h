#pragma once

// Small blocking HTTP helpers for the simulator's tests: a real client (QNetworkAccessManager,
// as the application uses) and a raw socket for what no well-behaved client would send.

#include "boundary/AgentFile.h"
#include "boundary/StrictJson.h"

#include <QByteArray>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <map>
#include <memory>

namespace simtest {

struct Reply {
    int status = 0; // 0 when no HTTP answer arrived
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

inline Reply send(QNetworkAccessManager &network, const QString &url, const QByteArray &body,
    const std::map<QByteArray, QByteArray> &headers = {}, const QByteArray &verb = "POST")
{
    QNetworkRequest request { QUrl(url) };
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    request.setTransferTimeout(10000);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    std::unique_ptr<QNetworkReply> reply(
        verb == "GET" ? network.get(request) : network.sendCustomRequest(request, verb, body));
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll() };
}

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
    received += socket.readAll();
    return received;
}

// An agent file as a JSON object; empty when it is missing or undecodable.
inline QJsonObject fileObject(const QString &path)
{
    const auto bytes = pelk::boundary::readAgentFile(path);
    return bytes ? pelk::json::parseObject(*bytes).value_or(QJsonObject()) : QJsonObject();
}

inline int statusOf(const QByteArray &rawAnswer)
{
    if (!rawAnswer.startsWith("HTTP/1.1 "))
        return 0;
    return rawAnswer.mid(9, 3).toInt();
}

} // namespace simtest
