#include "boundary/LocalApi.h"

#include "boundary/AgentBoundary.h"
#include "boundary/UriParts.h"

#include <QJsonDocument>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace pelk::boundary {

using namespace Qt::StringLiterals;

namespace {

bool allAsciiDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

} // namespace

std::optional<QUrl> lockEndpointUrl(const QString &storedUrl, QStringView endpoint)
{
    const QUrl parsed(storedUrl, QUrl::StrictMode);
    if (!parsed.isValid())
        return std::nullopt;
    // QUrl lower-cases schemes and rewrites IPv4 shorthands ("127.1"), so the exact
    // comparisons are made on the text as the agent wrote it.
    const UriParts parts = splitUri(storedUrl);
    if (parts.scheme != kApiScheme || !parts.authority)
        return std::nullopt;
    const AuthorityParts authority = splitAuthority(*parts.authority);
    if (authority.userInfo || authority.host != kApiHost || !authority.port)
        return std::nullopt;
    const QString &portText = *authority.port;
    if (!allAsciiDigits(portText) || portText.size() > 5)
        return std::nullopt;
    const int port = portText.toInt();
    if (port <= 0 || port > 65535 || parsed.port() != port)
        return std::nullopt;
    const QUrl target(
        QString(kApiScheme) + u"://"_s + QString(kApiHost) + u':' + QString::number(port) + u'/' + endpoint.toString(),
        QUrl::StrictMode);
    if (!target.isValid())
        return std::nullopt;
    return target;
}

std::optional<QUrl> supportEndpointUrl(const QString &storedUrl)
{
    const QString address = storedUrl + kSupportPath;
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host(QUrl::FullyEncoded) != kApiHost || url.scheme() != kApiScheme)
        return std::nullopt;
    // QUrl lower-cases the scheme and rewrites short IPv4 forms, so both are checked on the
    // text as the agent wrote it too.
    const UriParts parts = splitUri(address);
    if (parts.scheme != kApiScheme || !parts.authority || splitAuthority(*parts.authority).host != kApiHost)
        return std::nullopt;
    return url;
}

std::optional<QNetworkRequest> localApiRequest(const QUrl &url, const QString &session)
{
    for (const QChar c : session) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
    }
    QNetworkRequest request(url);
    request.setRawHeader(QByteArray(kContentTypeHeader.data(), kContentTypeHeader.size()),
        QByteArray(kJsonContentType.data(), kJsonContentType.size()));
    request.setRawHeader(QByteArray(kSessionHeader.data(), kSessionHeader.size()), session.toUtf8());
    request.setTransferTimeout(kApiTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // A redirect would carry the session and the PIN elsewhere; it counts as a non-200 answer.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    return request;
}

bool isLocalApiSuccess(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return reply.error() == QNetworkReply::NoError && status.isValid() && status.toInt() == 200;
}

QByteArray jsonBody(const QJsonObject &members)
{
    return QJsonDocument(members).toJson(QJsonDocument::Compact);
}

namespace {

// Cookies have no place in the local API; whatever the peer sets is forgotten at once.
class NoCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

} // namespace

NetworkApiRequester::NetworkApiRequester(QObject *parent) : QObject(parent)
{
    // The API is on loopback; a proxy from the environment must never see the session or a PIN.
    m_manager.setProxy(QNetworkProxy::NoProxy);
    m_manager.setAutoDeleteReplies(false);
    m_manager.setCookieJar(new NoCookieJar(&m_manager));
}

void NetworkApiRequester::start(const QNetworkRequest &request, const QByteArray &body, qint64 maxBytes,
    std::function<void(QNetworkReply *, const QByteArray &)> finish)
{
    QNetworkReply *reply = m_manager.post(request, body);
    auto collected = std::make_shared<QByteArray>();
    auto overflow = std::make_shared<bool>(false);
    // Only what the caller wants is kept, and never more than it allowed: a chatty or hostile
    // peer costs nothing beyond the cap, and a body over it is cut off as a failure.
    connect(reply, &QNetworkReply::readyRead, reply, [reply, collected, overflow, maxBytes] {
        const qint64 available = reply->bytesAvailable();
        if (maxBytes <= 0 || *overflow) {
            reply->skip(available);
            return;
        }
        if (collected->size() + available > maxBytes) {
            *overflow = true;
            reply->abort();
            return;
        }
        collected->append(reply->read(available));
    });
    // The transfer timeout only measures silence; a peer trickling bytes is cut off too.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply] { reply->abort(); });
    deadline->start(kApiTimeoutMs);
    connect(reply, &QNetworkReply::finished, this, [reply, collected, overflow, finish = std::move(finish)] {
        finish(*overflow ? nullptr : reply, *collected);
        reply->deleteLater();
    });
}

void NetworkApiRequester::post(const QNetworkRequest &request, const QByteArray &body, Completion done)
{
    start(request, body, 0, [this, done = std::move(done)](QNetworkReply *reply, const QByteArray &) mutable {
        if (!done)
            return;
        const bool success = reply && isLocalApiSuccess(*reply);
        // Queued, so a completion never runs inside post() even if the reply failed at once.
        QMetaObject::invokeMethod(
            this, [done = std::move(done), success] { done(success); }, Qt::QueuedConnection);
    });
}

void NetworkApiRequester::postForBody(
    const QNetworkRequest &request, const QByteArray &body, qint64 maxBytes, BodyCompletion done)
{
    start(request, body, std::max<qint64>(maxBytes, 1),
        [this, done = std::move(done)](QNetworkReply *reply, const QByteArray &collected) mutable {
            if (!done)
                return;
            std::optional<QByteArray> answer;
            if (reply && isLocalApiSuccess(*reply))
                answer = collected;
            QMetaObject::invokeMethod(
                this, [done = std::move(done), answer = std::move(answer)] { done(answer); }, Qt::QueuedConnection);
        });
}

} // namespace pelk::boundary
