#include "AgentSimulator.h"

#include "HttpServer.h"
#include "boundary/AgentBoundary.h"
#include "boundary/StrictJson.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSaveFile>

#include <sys/types.h>
#include <unistd.h>

namespace pelk::agentsim {

using namespace Qt::StringLiterals;
namespace key = boundary::key;

namespace {

// The word this simulator answers for a session that is over or was never offered; the
// application ends the session on any word other than "requested" and "active".
constexpr QLatin1StringView kSupportStatusEnded { "ended" };

QString randomToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

HttpResponse answer(int status, const QJsonObject &body)
{
    return HttpResponse::json(status, compact(body));
}

HttpResponse failure(int status, QLatin1StringView reason)
{
    return answer(status, QJsonObject { { u"error"_s, QString(reason) } });
}

HttpResponse supportAnswer(QLatin1StringView status, const QJsonArray &events = {})
{
    return answer(200, QJsonObject { { QString(key::kStatus), QString(status) }, { QString(key::kEvents), events } });
}

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    // A temporary file in the same directory renamed over the old one: a reader sees the
    // old document or the new one, never a part.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    // The agent runs as root and the application as the user: world-readable, owner-writable.
    QFile::setPermissions(
        path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return true;
}

std::optional<Endpoint> endpointForPath(const QByteArray &path)
{
    if (path == QByteArray('/' + QByteArrayView(boundary::kPresenceEndpoint)))
        return Endpoint::Presence;
    if (path == QByteArray('/' + QByteArrayView(boundary::kUnlockEndpoint)))
        return Endpoint::Unlock;
    if (path == QByteArrayView(boundary::kSupportPath))
        return Endpoint::Support;
    return std::nullopt;
}

RecordedRequest recordOf(const HttpRequest &request)
{
    RecordedRequest r;
    r.time = QDateTime::currentDateTimeUtc();
    r.method = QString::fromLatin1(request.method);
    r.target = QString::fromUtf8(request.target);
    r.path = QString::fromUtf8(request.path);
    for (const auto &[name, value] : request.headers)
        r.headers.append({ QString::fromLatin1(name), QString::fromUtf8(value) });
    r.bodyBytes = request.body.size();
    return r;
}

} // namespace

std::optional<AgentFileKind> agentFileKind(QStringView name)
{
    if (name == "status"_L1)
        return AgentFileKind::Status;
    if (name == "lock"_L1)
        return AgentFileKind::Lock;
    if (name == "desktop"_L1)
        return AgentFileKind::Desktop;
    return std::nullopt;
}

std::optional<Endpoint> endpointNamed(QStringView name)
{
    if (name == boundary::kPresenceEndpoint)
        return Endpoint::Presence;
    if (name == boundary::kUnlockEndpoint)
        return Endpoint::Unlock;
    if (name == "support"_L1 || name == boundary::kSupportPath)
        return Endpoint::Support;
    return std::nullopt;
}

QString supportStateName(SupportState state)
{
    switch (state) {
    case SupportState::None:
        return u"none"_s;
    case SupportState::Requested:
        return QString(boundary::kSupportStatusRequested);
    case SupportState::Active:
        return QString(boundary::kSupportStatusActive);
    case SupportState::Ended:
        return QString(kSupportStatusEnded);
    }
    return {};
}

QString RecordedRequest::header(QStringView name) const
{
    for (const auto &[field, value] : headers) {
        if (field.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QJsonObject RecordedRequest::toJson() const
{
    QJsonArray headerList;
    for (const auto &[name, value] : headers)
        headerList.append(QJsonArray { name, value });
    QJsonObject o { { u"serial"_s, qint64(serial) }, { u"time"_s, time.toString(Qt::ISODateWithMs) },
        { u"method"_s, method }, { u"target"_s, target }, { u"path"_s, path }, { u"headers"_s, headerList },
        { u"body"_s, body ? QJsonValue(*body) : QJsonValue() }, { u"body_bytes"_s, bodyBytes },
        { u"status"_s, status } };
    if (jpegBase64Length >= 0)
        o.insert(u"jpeg_base64_length"_s, jpegBase64Length);
    return o;
}

AgentSimulator::AgentSimulator(QString directory, QObject *parent)
    : QObject(parent), m_directory(std::move(directory)),
      m_server(new HttpServer([this](const HttpRequest &request) { return handle(request); }, this)),
      m_session(randomToken())
{
    qRegisterMetaType<RecordedRequest>();
    qRegisterMetaType<SupportState>();
    m_server->setBodyLimit([](const QByteArray &path) {
        return endpointForPath(path) == Endpoint::Support ? kMaxSupportBodyBytes : kMaxLockBodyBytes;
    });
    m_server->setRejectHandler([this](const HttpRequest &head, int status) { recordRejected(head, status); });
    connect(&m_heartbeat, &QTimer::timeout, this, [this] {
        if (!m_statusTimeGiven)
            writeStatus();
    });
}

AgentSimulator::~AgentSimulator() = default;

bool AgentSimulator::listen(quint16 port)
{
    return m_server->listen(port);
}

quint16 AgentSimulator::port() const
{
    return m_server->port();
}

QString AgentSimulator::baseUrl() const
{
    return QString(boundary::kApiScheme) + "://"_L1 + boundary::kApiHost + u':' + QString::number(port());
}

QString AgentSimulator::filePath(AgentFileKind kind) const
{
    switch (kind) {
    case AgentFileKind::Status:
        return boundary::statusFilePath(m_directory);
    case AgentFileKind::Lock:
        return boundary::lockFilePath(m_directory);
    case AgentFileKind::Desktop:
        return boundary::desktopFilePath(m_directory);
    }
    return {};
}

void AgentSimulator::setSession(const QString &session)
{
    m_session = session;
    if (m_lock)
        writeLock();
    if (m_desktopWritten)
        writeDesktopState();
}

void AgentSimulator::setConnectionTimeout(int ms)
{
    m_server->setConnectionTimeout(ms);
}

int AgentSimulator::connectionCount() const
{
    return m_server->connectionCount();
}

bool AgentSimulator::setStatus(const QString &phase, const QString &message, const QJsonObject &extra)
{
    QJsonObject status = extra;
    status.insert(key::kPhase, phase);
    status.insert(key::kMessage, message);
    m_statusTimeGiven = extra.contains(key::kUpdatedAt);
    m_status = status;
    return writeStatus();
}

void AgentSimulator::setStatusHeartbeat(int intervalMs)
{
    if (intervalMs > 0)
        m_heartbeat.start(intervalMs);
    else
        m_heartbeat.stop();
}

bool AgentSimulator::writeStatus()
{
    if (!m_status)
        return false;
    QJsonObject status = *m_status;
    if (!m_statusTimeGiven)
        status.insert(key::kUpdatedAt, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    return writeAtomically(filePath(AgentFileKind::Status), compact(status));
}

bool AgentSimulator::setLock(bool locked, const QString &commandUuid, const std::optional<QString> &message)
{
    const bool changed = isLocked() != locked;
    m_lock = LockRecord { locked, commandUuid, message };
    const bool written = writeLock();
    if (changed)
        Q_EMIT lockChanged(locked);
    return written;
}

bool AgentSimulator::unlock()
{
    LockRecord record = m_lock.value_or(LockRecord { false, randomToken(), std::nullopt });
    return setLock(false, record.commandUuid, record.message);
}

bool AgentSimulator::writeLock()
{
    if (!m_lock)
        return false;
    QJsonObject o { { QString(key::kLocked), m_lock->locked }, { QString(key::kCommandUuid), m_lock->commandUuid } };
    if (m_lock->message)
        o.insert(key::kMessage, *m_lock->message);
    if (port() != 0)
        o.insert(key::kUrl, baseUrl());
    o.insert(key::kSession, m_session);
    return writeAtomically(filePath(AgentFileKind::Lock), compact(o));
}

bool AgentSimulator::putOffer(const SupportOffer &offer)
{
    m_offer = offer;
    m_events = QJsonArray();
    m_lastFrame.clear();
    m_frameCount = 0;
    setSupportState(SupportState::Requested);
    return writeDesktopState();
}

bool AgentSimulator::withdrawOffer()
{
    m_offer.reset();
    setSupportState(SupportState::None);
    return writeDesktopState();
}

bool AgentSimulator::putRestart(const RestartNotice &notice)
{
    m_restart = notice;
    return writeDesktopState();
}

bool AgentSimulator::clearRestart()
{
    m_restart.reset();
    return writeDesktopState();
}

bool AgentSimulator::writeDesktopState()
{
    QJsonObject o { { QString(key::kUrl), baseUrl() }, { QString(key::kSession), m_session } };
    if (m_offer) {
        o.insert(key::kSupport,
            QJsonObject { { QString(key::kSessionId), m_offer->sessionId },
                { QString(key::kTechnician), m_offer->technician }, { QString(key::kMode), m_offer->mode },
                { QString(key::kExpiresAt), m_offer->expiresAt } });
    }
    if (m_restart) {
        o.insert(key::kRestart,
            QJsonObject {
                { QString(key::kId), m_restart->id }, { QString(key::kApplication), m_restart->application } });
    }
    m_desktopWritten = true;
    return writeAtomically(filePath(AgentFileKind::Desktop), compact(o));
}

void AgentSimulator::queueEvents(const QJsonArray &events)
{
    for (const QJsonValue &event : events)
        m_events.append(event);
}

QJsonObject AgentSimulator::stampEvent(QJsonObject event, int lifetimeSeconds)
{
    if (!event.contains(key::kSequence))
        event.insert(key::kSequence, m_nextSequence);
    if (const auto sequence = json::strictInteger(event.value(key::kSequence)))
        m_nextSequence = qMax(m_nextSequence, *sequence + 1);
    if (!event.contains(key::kExpiresAt))
        event.insert(key::kExpiresAt, double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 + lifetimeSeconds);
    return event;
}

bool AgentSimulator::writeRaw(AgentFileKind kind, const QByteArray &bytes)
{
    return writeAtomically(filePath(kind), bytes);
}

bool AgentSimulator::removeFile(AgentFileKind kind)
{
    if (kind == AgentFileKind::Status)
        m_status.reset(); // the heartbeat must not bring it back
    return QFile::remove(filePath(kind));
}

bool AgentSimulator::provideTelemetryDirectory(uint uid)
{
    const QString path = m_directory + u'/' + boundary::kTelemetryDirectoryName + u'/' + QString::number(uid);
    if (!QDir().mkpath(path))
        return false;
    if (::geteuid() == 0 && ::chown(QFile::encodeName(path).constData(), uid, gid_t(-1)) != 0)
        return false;
    return true;
}

QList<RecordedRequest> AgentSimulator::requestsTo(Endpoint endpoint) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest &r : m_requests) {
        if (endpointForPath(r.path.toUtf8()) == endpoint)
            matching.append(r);
    }
    return matching;
}

void AgentSimulator::record(RecordedRequest request)
{
    request.serial = ++m_serial;
    if (m_requests.size() >= kMaxRecordedRequests)
        m_requests.removeFirst();
    m_requests.append(request);
    Q_EMIT requestReceived(m_requests.constLast());
}

void AgentSimulator::recordRejected(const HttpRequest &head, int status)
{
    RecordedRequest r = recordOf(head);
    r.status = status;
    record(r);
}

HttpResponse AgentSimulator::handle(const HttpRequest &request)
{
    RecordedRequest r = recordOf(request);
    std::optional<QJsonObject> body = json::parseObject(request.body);
    qint64 jpegLength = -1;

    const std::optional<Endpoint> endpoint = endpointForPath(request.path);
    HttpResponse response;
    auto forced = endpoint ? m_overrides.find(*endpoint) : m_overrides.end();
    if (!endpoint) {
        response = failure(404, "no such endpoint"_L1);
    } else if (forced != m_overrides.end() && (forced->status || forced->body || forced->drop)) {
        response = HttpResponse::json(forced->status.value_or(200), forced->body.value_or("{}"_ba));
    } else if (request.method != "POST") {
        response = failure(405, "POST only"_L1);
    } else if (const QList<QByteArray> sessions = request.headerValues(QByteArrayView(boundary::kSessionHeader));
               sessions.isEmpty()) {
        response = failure(401, "missing session"_L1);
    } else if (sessions.size() != 1 || QString::fromUtf8(sessions.front()) != m_session) {
        response = failure(403, "wrong session"_L1);
    } else if (!body) {
        response = failure(400, "body is not a JSON object"_L1);
    } else if (*endpoint == Endpoint::Presence) {
        response = answerPresence(*body);
    } else if (*endpoint == Endpoint::Unlock) {
        response = answerUnlock(*body);
    } else {
        response = answerSupport(*body, jpegLength);
    }

    if (forced != m_overrides.end()) {
        response.delayMs = forced->delayMs;
        response.drop = forced->drop;
        if (forced->times > 0 && --forced->times == 0)
            m_overrides.erase(forced);
    }

    if (body && body->contains(key::kJpeg)) {
        const QJsonValue jpeg = body->take(key::kJpeg);
        if (jpegLength < 0 && jpeg.isString())
            jpegLength = jpeg.toString().size();
    }
    r.body = body;
    r.jpegBase64Length = jpegLength;
    r.status = response.drop ? 0 : response.status;
    record(r);
    return response;
}

HttpResponse AgentSimulator::answerPresence(const QJsonObject &body)
{
    if (!body.value(key::kCommandUuid).isString())
        return failure(400, "command_uuid missing"_L1);
    return answer(200, {});
}

HttpResponse AgentSimulator::answerUnlock(const QJsonObject &body)
{
    const QJsonValue pin = body.value(key::kPin);
    if (!pin.isString())
        return failure(400, "pin missing"_L1);
    if (!m_pin || pin.toString() != *m_pin)
        return failure(401, "wrong pin"_L1);
    // The file says unlocked before the answer goes out, so a refresh right after sees it.
    if (isLocked())
        unlock();
    return answer(200, {});
}

HttpResponse AgentSimulator::answerSupport(const QJsonObject &body, qint64 &jpegLength)
{
    const QJsonValue action = body.value(key::kAction);
    const QJsonValue sessionId = body.value(key::kSessionId);
    if (!action.isString() || !sessionId.isString())
        return failure(400, "action and session_id required"_L1);
    const QString name = action.toString();
    const bool known = name == boundary::kSupportActionPoll || name == boundary::kSupportActionAccept
        || name == boundary::kSupportActionFrame || name == boundary::kSupportActionDecline
        || name == boundary::kSupportActionStop;
    if (!known)
        return failure(400, "unknown action"_L1);

    if (!m_offer || m_offer->sessionId != sessionId.toString())
        return supportAnswer(kSupportStatusEnded);
    if (m_supportState != SupportState::Ended && QDateTime::currentSecsSinceEpoch() >= m_offer->expiresAt)
        setSupportState(SupportState::Ended);
    if (m_supportState == SupportState::Ended)
        return supportAnswer(kSupportStatusEnded);

    if (name == boundary::kSupportActionDecline || name == boundary::kSupportActionStop) {
        endSupport();
        return supportAnswer(kSupportStatusEnded);
    }
    if (name == boundary::kSupportActionAccept)
        setSupportState(SupportState::Active);
    if (name == boundary::kSupportActionFrame) {
        const QJsonValue jpeg = body.value(key::kJpeg);
        if (!jpeg.isString())
            return failure(400, "jpeg missing"_L1);
        jpegLength = jpeg.toString().size();
        auto decoded
            = QByteArray::fromBase64Encoding(jpeg.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return failure(400, "jpeg is not Base64"_L1);
        if (m_supportState == SupportState::Active) {
            m_lastFrame = std::move(decoded.decoded);
            ++m_frameCount;
            Q_EMIT frameReceived(m_frameCount);
            const QJsonArray events = std::exchange(m_events, QJsonArray());
            return supportAnswer(boundary::kSupportStatusActive, events);
        }
    }
    return supportAnswer(
        m_supportState == SupportState::Active ? boundary::kSupportStatusActive : boundary::kSupportStatusRequested);
}

void AgentSimulator::endSupport()
{
    setSupportState(SupportState::Ended);
    if (m_withdrawOnEnd) {
        m_offer.reset();
        writeDesktopState();
    }
}

void AgentSimulator::setSupportState(SupportState state)
{
    if (m_supportState == state)
        return;
    m_supportState = state;
    Q_EMIT supportStateChanged(state);
}

} // namespace pelk::agentsim
