#include "ControlServer.h"

#include "AgentSimulator.h"
#include "HttpServer.h"
#include "boundary/AgentBoundary.h"
#include "boundary/StrictJson.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>
#include <QUuid>

#include <algorithm>

namespace pelk::agentsim {

using namespace Qt::StringLiterals;
namespace key = boundary::key;

namespace {

constexpr QByteArrayView kPrefix { "/control/" };

HttpResponse reply(int status, const QJsonObject &body)
{
    return HttpResponse::json(status, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

HttpResponse ok(QJsonObject body = {})
{
    body.insert(u"ok"_s, true);
    return reply(200, body);
}

HttpResponse bad(const QString &reason)
{
    return reply(400, QJsonObject { { u"error"_s, reason } });
}

std::optional<QString> optionalString(const QJsonObject &body, QLatin1StringView name)
{
    const QJsonValue value = body.value(name);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

} // namespace

ControlServer::ControlServer(AgentSimulator &simulator, QObject *parent)
    : QObject(parent), m_simulator(simulator),
      m_server(new HttpServer([this](const HttpRequest &request) { return handle(request); }, this))
{
    m_server->setBodyLimit([](const QByteArray &) { return kMaxBodyBytes; });
    m_server->setConnectionTimeout(30000);
}

bool ControlServer::listen(quint16 port)
{
    return m_server->listen(port);
}

quint16 ControlServer::port() const
{
    return m_server->port();
}

QJsonObject ControlServer::stateJson() const
{
    QJsonObject o { { u"port"_s, m_simulator.port() }, { u"base_url"_s, m_simulator.baseUrl() },
        { u"session"_s, m_simulator.session() }, { u"dir"_s, m_simulator.directory() },
        { u"locked"_s, m_simulator.isLocked() }, { u"support_state"_s, supportStateName(m_simulator.supportState()) },
        { u"frames"_s, m_simulator.frameCount() }, { u"queued_events"_s, m_simulator.queuedEvents().size() },
        { u"requests"_s, m_simulator.requests().size() } };
    if (m_server->isListening())
        o.insert(u"control_port"_s, port());
    return o;
}

HttpResponse ControlServer::handle(const HttpRequest &request)
{
    if (!request.path.startsWith(kPrefix))
        return reply(404, QJsonObject { { u"error"_s, u"unknown route"_s } });
    const QByteArray route = request.path.mid(kPrefix.size());
    if (request.method == "GET") {
        if (route == "state")
            return ok(stateJson());
        if (route == "requests") {
            const qsizetype q = request.target.indexOf('?');
            return requestsJson(q < 0 ? QByteArray() : request.target.mid(q + 1));
        }
        if (route == "frame") {
            if (m_simulator.frameCount() == 0)
                return reply(404, QJsonObject { { u"error"_s, u"no frame yet"_s } });
            HttpResponse frame;
            frame.contentType = "image/jpeg";
            frame.body = m_simulator.lastFrame();
            return frame;
        }
        return reply(404, QJsonObject { { u"error"_s, u"unknown route"_s } });
    }
    if (request.method != "POST")
        return reply(405, QJsonObject { { u"error"_s, u"GET or POST"_s } });
    std::optional<QJsonObject> body
        = request.body.trimmed().isEmpty() ? std::optional(QJsonObject()) : json::parseObject(request.body);
    if (!body)
        return bad(u"body is not a JSON object"_s);
    return post(route, *body);
}

HttpResponse ControlServer::requestsJson(const QByteArray &query) const
{
    const QUrlQuery params(QString::fromUtf8(query));
    const QString path = params.queryItemValue(u"path"_s, QUrl::FullyDecoded);
    const qint64 since = params.queryItemValue(u"since"_s).toLongLong();
    QJsonArray list;
    for (const RecordedRequest &r : m_simulator.requests()) {
        if (qint64(r.serial) > since && (path.isEmpty() || r.path == path))
            list.append(r.toJson());
    }
    return ok(QJsonObject { { u"requests"_s, list } });
}

HttpResponse ControlServer::post(const QByteArray &route, const QJsonObject &body)
{
    AgentSimulator &sim = m_simulator;
    if (route == "status") {
        const auto phase = optionalString(body, key::kPhase);
        const auto message = optionalString(body, key::kMessage);
        if (!phase || !message)
            return bad(u"phase and message (strings) required"_s);
        QJsonObject extra = body;
        extra.remove(key::kPhase);
        extra.remove(key::kMessage);
        return sim.setStatus(*phase, *message, extra) ? ok() : bad(u"could not write the status file"_s);
    }
    if (route == "lock") {
        const QJsonValue locked = body.value(key::kLocked);
        if (!locked.isBool() && !locked.isUndefined())
            return bad(u"locked must be true or false"_s);
        const QString uuid
            = optionalString(body, key::kCommandUuid).value_or(QUuid::createUuid().toString(QUuid::WithoutBraces));
        const bool written = sim.setLock(locked.toBool(true), uuid, optionalString(body, key::kMessage));
        return written ? ok(QJsonObject { { QString(key::kCommandUuid), uuid } })
                       : bad(u"could not write the lock file"_s);
    }
    if (route == "unlock")
        return sim.unlock() ? ok() : bad(u"could not write the lock file"_s);
    if (route == "pin") {
        if (!body.value(key::kPin).isString() && !body.value(key::kPin).isNull())
            return bad(u"pin must be a string or null"_s);
        sim.setPin(optionalString(body, key::kPin));
        return ok();
    }
    if (route == "session") {
        const auto session = optionalString(body, key::kSession);
        if (!session)
            return bad(u"session (string) required"_s);
        sim.setSession(*session);
        return ok();
    }
    if (route == "offer") {
        if (body.value("clear"_L1).toBool())
            return sim.withdrawOffer() ? ok() : bad(u"could not write the desktop file"_s);
        SupportOffer offer;
        offer.sessionId
            = optionalString(body, key::kSessionId).value_or(QUuid::createUuid().toString(QUuid::WithoutBraces));
        offer.technician = optionalString(body, key::kTechnician).value_or(u"IT support"_s);
        offer.mode = optionalString(body, key::kMode).value_or(u"view"_s);
        if (const auto at = json::strictInteger(body.value(key::kExpiresAt)))
            offer.expiresAt = *at;
        else
            offer.expiresAt
                = QDateTime::currentSecsSinceEpoch() + json::strictInteger(body.value("expires_in"_L1)).value_or(600);
        if (body.value("withdraw_on_end"_L1).isBool())
            sim.setWithdrawOfferOnEnd(body.value("withdraw_on_end"_L1).toBool());
        return sim.putOffer(offer) ? ok(QJsonObject { { QString(key::kSessionId), offer.sessionId } })
                                   : bad(u"could not write the desktop file"_s);
    }
    if (route == "restart") {
        if (body.value("clear"_L1).toBool())
            return sim.clearRestart() ? ok() : bad(u"could not write the desktop file"_s);
        const auto application = optionalString(body, key::kApplication);
        if (!application)
            return bad(u"application (string) required"_s);
        const QString id = optionalString(body, key::kId).value_or(QUuid::createUuid().toString(QUuid::WithoutBraces));
        return sim.putRestart({ id, *application }) ? ok(QJsonObject { { QString(key::kId), id } })
                                                    : bad(u"could not write the desktop file"_s);
    }
    if (route == "events") {
        const QJsonValue events = body.value(key::kEvents);
        if (!events.isArray())
            return bad(u"events (array) required"_s);
        const bool raw = body.value("raw"_L1).toBool();
        QJsonArray queued;
        for (const QJsonValue &event : events.toArray())
            queued.append(raw || !event.isObject() ? event : QJsonValue(sim.stampEvent(event.toObject())));
        sim.queueEvents(queued);
        return ok(QJsonObject { { QString(key::kEvents), queued } });
    }
    if (route == "override") {
        const auto endpoint = endpointNamed(optionalString(body, "endpoint"_L1).value_or(QString()));
        if (!endpoint)
            return bad(u"endpoint must be presence, unlock or support"_s);
        if (body.value("clear"_L1).toBool()) {
            sim.clearOverride(*endpoint);
            return ok();
        }
        AnswerOverride answer;
        if (const auto status = json::strictInteger(body.value("status"_L1)))
            answer.status = int(std::clamp<qint64>(*status, 100, 599));
        if (const QJsonValue b = body.value("body"_L1); b.isString())
            answer.body = b.toString().toUtf8();
        else if (b.isObject() || b.isArray())
            answer.body = b.isObject() ? QJsonDocument(b.toObject()).toJson(QJsonDocument::Compact)
                                       : QJsonDocument(b.toArray()).toJson(QJsonDocument::Compact);
        answer.delayMs = int(std::clamp<qint64>(json::strictInteger(body.value("delay_ms"_L1)).value_or(0), 0, 600000));
        answer.drop = body.value("drop"_L1).toBool();
        answer.times = int(std::clamp<qint64>(json::strictInteger(body.value("times"_L1)).value_or(-1), -1, 1000000));
        if (answer.times == 0)
            return bad(u"times is -1 (until cleared) or a positive count"_s);
        sim.setOverride(*endpoint, answer);
        return ok();
    }
    if (route == "raw" || route == "remove") {
        const auto kind = agentFileKind(optionalString(body, "file"_L1).value_or(QString()));
        if (!kind)
            return bad(u"file must be status, lock or desktop"_s);
        if (route == "remove")
            return sim.removeFile(*kind) ? ok() : bad(u"no such file"_s);
        const auto encoded
            = QByteArray::fromBase64Encoding(optionalString(body, "bytes_b64"_L1).value_or(QString()).toLatin1(),
                QByteArray::AbortOnBase64DecodingErrors);
        if (!encoded)
            return bad(u"bytes_b64 must be Base64"_s);
        return sim.writeRaw(*kind, encoded.decoded) ? ok() : bad(u"could not write the file"_s);
    }
    if (route == "clear-requests") {
        sim.clearRequests();
        return ok();
    }
    if (route == "quit") {
        Q_EMIT quitRequested();
        HttpResponse response = ok();
        response.close = true;
        return response;
    }
    return reply(404, QJsonObject { { u"error"_s, u"unknown route"_s } });
}

} // namespace pelk::agentsim
