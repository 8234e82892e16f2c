#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <utility>

namespace pelk::agentsim {

// One HTTP/1.x request as it arrived: request line, header fields and Content-Length body.
struct HttpRequest {
    QByteArray method;
    QByteArray target; // exactly as sent
    QByteArray path; // target without query or fragment, repeated leading slashes collapsed
    QByteArray version; // "HTTP/1.1" or "HTTP/1.0"
    QList<std::pair<QByteArray, QByteArray>> headers; // names as sent, values without surrounding blanks
    QByteArray body;

    // Every value of the named field (names compare case-insensitively), in arrival order.
    QList<QByteArray> headerValues(QByteArrayView name) const;
    // Whether the client wants the connection kept open after the answer.
    bool keepAlive() const;
};

// The answer to one request, and how to deliver it.
struct HttpResponse {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    int delayMs = 0; // answer this much later (a slow agent)
    bool drop = false; // close the connection without answering (a dying agent)
    bool close = false; // close the connection after the answer

    static HttpResponse json(int status, const QByteArray &body);
};

// The reason phrase for the status codes this server uses.
QByteArray reasonPhrase(int status);

// The bytes of a full response: status line, Content-Type, Content-Length, Connection, body.
QByteArray serialize(const HttpResponse &response, bool keepAlive);

} // namespace pelk::agentsim
