#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>
#include <utility>

namespace pelk::agentsim {

class HttpServer;
struct HttpRequest;
struct HttpResponse;

// The three files the agent publishes.
enum class AgentFileKind { Status, Lock, Desktop };
std::optional<AgentFileKind> agentFileKind(QStringView name); // "status", "lock", "desktop"

// The local API endpoints, for answer overrides and request filters.
enum class Endpoint { Presence, Unlock, Support };
std::optional<Endpoint> endpointNamed(QStringView name); // "presence", "unlock", "support"

// Where an announced support session stands, as the agent sees it.
enum class SupportState { None, Requested, Active, Ended };
QString supportStateName(SupportState state);

// One request the local API received, as it arrived and as it was answered.
struct RecordedRequest {
    quint64 serial = 0; // 1 for the first request, counting up
    QDateTime time; // UTC, when the request was complete
    QString method;
    QString target; // as sent, query included
    QString path; // without query, leading slashes collapsed
    QList<std::pair<QString, QString>> headers;
    std::optional<QJsonObject> body; // when the body was a JSON object; a frame's "jpeg" is left out
    qint64 bodyBytes = 0;
    qint64 jpegBase64Length = -1; // length of a frame's "jpeg" text, -1 without one
    int status = 0; // the status code answered; 0 when the connection was dropped

    // The first value of the named header field (case-insensitive), or a null string.
    QString header(QStringView name) const;
    QJsonObject toJson() const;
};

struct SupportOffer {
    QString sessionId;
    QString technician;
    QString mode; // "control" or "view"
    qint64 expiresAt = 0; // Unix seconds
};

struct RestartNotice {
    QString id;
    QString application;
};

// An answer forced on an endpoint, to play a misbehaving agent. Without a status or a body
// the request is handled as usual and only delayed; with either, nothing else happens.
struct AnswerOverride {
    std::optional<int> status;
    std::optional<QByteArray> body;
    int delayMs = 0;
    bool drop = false; // close the connection without an answer
    int times = -1; // how many requests it applies to; -1 until cleared
};

// A fake background agent: serves the local API on 127.0.0.1 and publishes the status,
// lock and desktop state files (atomically) in a directory, under the control of a test
// or of the agent-sim command.
class AgentSimulator : public QObject {
    Q_OBJECT
public:
    explicit AgentSimulator(QString directory, QObject *parent = nullptr);
    ~AgentSimulator() override;

    // Starts the local API; port 0 takes any free port.
    bool listen(quint16 port = 0);
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"
    QString directory() const { return m_directory; }
    QString filePath(AgentFileKind kind) const;

    QString session() const { return m_session; }
    // Changes the session token; lock and desktop files already written are rewritten with it.
    void setSession(const QString &session);
    // The PIN that "unlock" accepts; without one every PIN is refused.
    void setPin(const std::optional<QString> &pin) { m_pin = pin; }
    void setConnectionTimeout(int ms);
    int connectionCount() const; // client connections open right now

    // Status file: phase, message, the extra members as given, and updated_at now (unless
    // extra names its own updated_at, which is then kept as given, also by the heartbeat).
    bool setStatus(const QString &phase, const QString &message, const QJsonObject &extra = {});
    // Rewrites the status with a fresh updated_at every intervalMs (0 stops), as a live agent does.
    void setStatusHeartbeat(int intervalMs);

    // Lock file: {"locked", "command_uuid", "message"?, "url", "session"} with this server's url.
    bool setLock(bool locked, const QString &commandUuid, const std::optional<QString> &message = std::nullopt);
    bool lock(const QString &commandUuid, const std::optional<QString> &message = std::nullopt)
    {
        return setLock(true, commandUuid, message);
    }
    // Rewrites the lock file with locked false, as after an accepted PIN or a remote unlock.
    bool unlock();
    bool isLocked() const { return m_lock && m_lock->locked; }

    // Desktop file: {"url", "session", "support"?, "restart"?}.
    bool putOffer(const SupportOffer &offer);
    bool withdrawOffer();
    bool putRestart(const RestartNotice &notice);
    bool clearRestart();
    bool writeDesktopState();
    // Whether "decline" and "stop" also take the offer out of the desktop file (the default).
    void setWithdrawOfferOnEnd(bool withdraw) { m_withdrawOnEnd = withdraw; }
    SupportState supportState() const { return m_supportState; }
    std::optional<SupportOffer> offer() const { return m_offer; }

    // Input events handed out, in order, with the next "frame" answer of an active session.
    void queueEvents(const QJsonArray &events);
    QJsonArray queuedEvents() const { return m_events; }
    // Fills in a missing "sequence" (the next number) and "expires_at" (now + lifetime).
    QJsonObject stampEvent(QJsonObject event, int lifetimeSeconds = 30);
    QByteArray lastFrame() const { return m_lastFrame; } // decoded JPEG bytes
    int frameCount() const { return m_frameCount; }

    // Arbitrary bytes into one of the files (still written atomically), and removal.
    bool writeRaw(AgentFileKind kind, const QByteArray &bytes);
    bool removeFile(AgentFileKind kind);
    // Creates agent-telemetry/<uid>/ for the location file and hands it to that user.
    bool provideTelemetryDirectory(uint uid);

    void setOverride(Endpoint endpoint, const AnswerOverride &answer) { m_overrides.insert(endpoint, answer); }
    void clearOverride(Endpoint endpoint) { m_overrides.remove(endpoint); }
    void clearOverrides() { m_overrides.clear(); }

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requestsTo(Endpoint endpoint) const;
    void clearRequests() { m_requests.clear(); }

    static constexpr qint64 kMaxLockBodyBytes = 64 * 1024;
    static constexpr qint64 kMaxSupportBodyBytes = 8 * 1024 * 1024; // frames are ~0.5 MB of Base64
    static constexpr int kMaxRecordedRequests = 5000;

Q_SIGNALS:
    void requestReceived(const pelk::agentsim::RecordedRequest &request);
    void lockChanged(bool locked);
    void supportStateChanged(pelk::agentsim::SupportState state);
    void frameReceived(int count);

private:
    struct LockRecord {
        bool locked = false;
        QString commandUuid;
        std::optional<QString> message;
    };

    HttpResponse handle(const HttpRequest &request);
    void recordRejected(const HttpRequest &head, int status);
    HttpResponse answerPresence(const QJsonObject &body);
    HttpResponse answerUnlock(const QJsonObject &body);
    HttpResponse answerSupport(const QJsonObject &body, qint64 &jpegLength);
    void endSupport();
    void setSupportState(SupportState state);
    bool writeStatus();
    bool writeLock();
    void record(RecordedRequest request);

    QString m_directory;
    HttpServer *m_server;
    QString m_session;
    std::optional<QString> m_pin;
    std::optional<QJsonObject> m_status;
    bool m_statusTimeGiven = false;
    QTimer m_heartbeat;
    std::optional<LockRecord> m_lock;
    bool m_desktopWritten = false;
    std::optional<SupportOffer> m_offer;
    std::optional<RestartNotice> m_restart;
    SupportState m_supportState = SupportState::None;
    bool m_withdrawOnEnd = true;
    QJsonArray m_events;
    qint64 m_nextSequence = 1;
    QByteArray m_lastFrame;
    int m_frameCount = 0;
    QMap<Endpoint, AnswerOverride> m_overrides;
    QList<RecordedRequest> m_requests;
    quint64 m_serial = 0;
};

} // namespace pelk::agentsim

Q_DECLARE_METATYPE(pelk::agentsim::RecordedRequest)
