#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkReply;

namespace pelk::boundary {

// The lock's address rule for the local agent API: the stored base address must be exactly
// http on 127.0.0.1 with a port and no user information; its path, query and fragment are
// dropped and the endpoint goes directly under the root. Nothing when any check fails.
std::optional<QUrl> lockEndpointUrl(const QString &storedUrl, QStringView endpoint);

// The support endpoint's address rule: "/support" appended to the stored base address exactly
// as written, accepted only when it parses with scheme exactly "http" and host exactly
// "127.0.0.1"; the rest of the address is taken as it stands.
std::optional<QUrl> supportEndpointUrl(const QString &storedUrl);

// The parts every local API request shares (lock and support): JSON content type, the
// session header, the 4-second timeout, no cache, no redirects, no proxy. Nothing when the
// session cannot travel in a header unchanged (control characters would split the request).
std::optional<QNetworkRequest> localApiRequest(const QUrl &url, const QString &session);

// Only a real HTTP answer with status 200 is a success; errors and every other status fail.
bool isLocalApiSuccess(const QNetworkReply &reply);

// A body as a compact JSON object, members as given.
QByteArray jsonBody(const QJsonObject &members);

// Sends POST requests to the local agent API. The completion always runs later on the
// calling (main) thread, exactly once, never from inside post().
class ApiRequester {
public:
    using Completion = std::function<void(bool success)>;
    // The body of a status-200 answer; nothing for every other outcome, a body longer than
    // the cap included.
    using BodyCompletion = std::function<void(std::optional<QByteArray> body)>;
    virtual ~ApiRequester() = default;
    virtual void post(const QNetworkRequest &request, const QByteArray &body, Completion done) = 0;
    virtual void postForBody(
        const QNetworkRequest &request, const QByteArray &body, qint64 maxBytes, BodyCompletion done)
        = 0;
};

// The real requester: its own network manager (nothing cached, no cookies kept), no retries.
class NetworkApiRequester : public QObject, public ApiRequester {
    Q_OBJECT
public:
    explicit NetworkApiRequester(QObject *parent = nullptr);
    void post(const QNetworkRequest &request, const QByteArray &body, Completion done) override;
    void postForBody(
        const QNetworkRequest &request, const QByteArray &body, qint64 maxBytes, BodyCompletion done) override;

private:
    // Runs one POST; finish gets the reply (or nothing when the body outgrew maxBytes).
    void start(const QNetworkRequest &request, const QByteArray &body, qint64 maxBytes,
        std::function<void(QNetworkReply *reply, const QByteArray &collected)> finish);

    QNetworkAccessManager m_manager;
};

} // namespace pelk::boundary
