#include "HttpMessage.h"

namespace pelk::agentsim {

QList<QByteArray> HttpRequest::headerValues(QByteArrayView name) const
{
    QList<QByteArray> values;
    for (const auto &[field, value] : headers) {
        if (field.compare(name, Qt::CaseInsensitive) == 0)
            values.append(value);
    }
    return values;
}

bool HttpRequest::keepAlive() const
{
    bool close = version == "HTTP/1.0";
    for (const QByteArray &value : headerValues("Connection")) {
        for (const QByteArray &token : value.split(',')) {
            const QByteArray option = token.trimmed().toLower();
            if (option == "close")
                close = true;
            else if (option == "keep-alive")
                close = false;
        }
    }
    return !close;
}

HttpResponse HttpResponse::json(int status, const QByteArray &body)
{
    HttpResponse response;
    response.status = status;
    response.body = body;
    return response;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

QByteArray serialize(const HttpResponse &response, bool keepAlive)
{
    QByteArray bytes;
    bytes.reserve(128 + response.body.size());
    bytes += "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        bytes += "Content-Type: " + response.contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    bytes += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    bytes += "\r\n";
    bytes += response.body;
    return bytes;
}

} // namespace pelk::agentsim
