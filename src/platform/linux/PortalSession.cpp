#include "platform/linux/PortalSession.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <utility>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcPortal, "pelk.support")

const auto kService = u"org.freedesktop.portal.Desktop"_s;
const auto kPath = u"/org/freedesktop/portal/desktop"_s;
const auto kRemoteDesktop = u"org.freedesktop.portal.RemoteDesktop"_s;
const auto kScreenCast = u"org.freedesktop.portal.ScreenCast"_s;
const auto kRequest = u"org.freedesktop.portal.Request"_s;
const auto kSessionInterface = u"org.freedesktop.portal.Session"_s;
const auto kProperties = u"org.freedesktop.DBus.Properties"_s;
const auto kBus = u"org.freedesktop.DBus"_s;
const auto kBusPath = u"/org/freedesktop/DBus"_s;

// Restore tokens and persist_mode came with version 2 of RemoteDesktop.
constexpr uint kRestorableVersion = 2;
constexpr uint kPersistUntilRevoked = 2;
constexpr uint kMonitor = 1;
constexpr uint kCursorEmbedded = 2;
constexpr int kNegotiationTimeoutMs = 5 * 60 * 1000;
// Asked at start-up, twice: a wedged bus must not hold the application up for long.
constexpr int kBusCallTimeoutMs = 500;

QString newToken()
{
    static quint32 counter = 0;
    return u"pelk_%1_%2"_s.arg(++counter).arg(QRandomGenerator::global()->generate());
}

QDBusPendingCall getAll(const QDBusConnection &bus, const QString &interface)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kProperties, u"GetAll"_s);
    call << interface;
    // The default time limit: the bus may have to start the portal first.
    return bus.asyncCall(call);
}

std::optional<QVariantMap> properties(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<QVariantMap> reply = *call;
    return reply.isError() ? std::nullopt : std::optional<QVariantMap>(reply.value());
}

// A stream property of D-Bus type (ii).
std::optional<std::pair<int, int>> intPair(const QVariant &value)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return std::nullopt;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != u"(ii)"_s)
        return std::nullopt;
    std::pair<int, int> pair;
    argument.beginStructure();
    argument >> pair.first >> pair.second;
    argument.endStructure();
    return pair;
}

// Start's results: the devices granted and the first stream (one monitor was asked for).
std::optional<PortalSession::Started> parseStarted(const QVariantMap &results)
{
    const QVariant streams = results.value(u"streams"_s);
    if (streams.userType() != qMetaTypeId<QDBusArgument>())
        return std::nullopt;
    const auto list = streams.value<QDBusArgument>();
    if (list.currentSignature() != u"a(ua{sv})"_s)
        return std::nullopt;
    std::optional<PortalSession::Started> started;
    list.beginArray();
    while (!list.atEnd()) {
        uint node = 0;
        QVariantMap stream;
        list.beginStructure();
        list >> node >> stream;
        list.endStructure();
        const auto position = intPair(stream.value(u"position"_s)).value_or(std::pair(0, 0));
        const auto size = intPair(stream.value(u"size"_s));
        if (!started && size && size->first > 0 && size->second > 0) {
            const QRect area(position.first, position.second, size->first, size->second);
            started = PortalSession::Started { node, area, {} };
        }
    }
    list.endArray();
    return started;
}

} // namespace

bool PortalSession::reachable(const QDBusConnection &bus)
{
    const auto ask = [&bus](const QString &method, const QVariantList &arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(kBus, kBusPath, kBus, method);
        call.setArguments(arguments);
        return bus.call(call, QDBus::Block, kBusCallTimeoutMs).arguments().value(0);
    };
    return bus.isConnected()
        && (ask(u"NameHasOwner"_s, { kService }).toBool()
            || ask(u"ListActivatableNames"_s, {}).toStringList().contains(kService));
}

void PortalSession::probe(const QDBusConnection &bus, QObject *context, std::function<void(std::optional<Offer>)> done)
{
    auto *remote = new QDBusPendingCallWatcher(getAll(bus, kRemoteDesktop), context);
    QObject::connect(remote, &QDBusPendingCallWatcher::finished, context, [bus, context, done](auto *first) {
        const auto input = properties(first);
        const uint devices = input ? input->value(u"AvailableDeviceTypes"_s).toUInt() : 0;
        if (!input || (devices & (kKeyboard | kPointer)) != (kKeyboard | kPointer)) {
            done(std::nullopt);
            return;
        }
        const bool restorable = input->value(u"version"_s).toUInt() >= kRestorableVersion;
        auto *cast = new QDBusPendingCallWatcher(getAll(bus, kScreenCast), context);
        QObject::connect(cast, &QDBusPendingCallWatcher::finished, context, [done, restorable](auto *second) {
            const auto screen = properties(second);
            if (!screen || !(screen->value(u"AvailableSourceTypes"_s).toUInt() & kMonitor)) {
                done(std::nullopt);
                return;
            }
            done(Offer { bool(screen->value(u"AvailableCursorModes"_s).toUInt() & kCursorEmbedded), restorable });
        });
    });
}

PortalSession::PortalSession(const QDBusConnection &bus, QObject *parent) : QObject(parent), m_bus(bus)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kNegotiationTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] { finish(std::nullopt); });
    // The portal's process gone takes its sessions with it, and no Closed comes.
    auto *watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (m_done || !m_session.isEmpty())
            sessionClosed();
    });
}

PortalSession::~PortalSession()
{
    if (!m_session.isEmpty())
        m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, u"Close"_s));
}

QString PortalSession::objectPath(const QString &kind, const QString &token) const
{
    // The portal's rule: the caller's unique name without its ':' and with '_' for each '.'.
    const QString sender = m_bus.baseService().mid(1).replace(u'.', u'_');
    return kPath + u'/' + kind + u'/' + sender + u'/' + token;
}

void PortalSession::start(
    const QString &restoreToken, const Offer &offer, std::function<void(std::optional<Started>)> done)
{
    m_done = std::move(done);
    m_timeout.start();
    const QString token = newToken();
    request(kRemoteDesktop, u"CreateSession"_s, {}, { { u"session_handle_token"_s, token } },
        [this, restoreToken, offer](const QVariantMap &results) {
            // Documented as an object path; some versions send it as a string.
            const QVariant handle = results.value(u"session_handle"_s);
            m_session = handle.userType() == qMetaTypeId<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                                            : handle.toString();
            if (m_session.isEmpty()) {
                finish(std::nullopt);
                return;
            }
            m_bus.connect(kService, m_session, kSessionInterface, u"Closed"_s, this, SLOT(sessionClosed()));
            startDevices(restoreToken, offer);
        });
}

void PortalSession::startDevices(const QString &restoreToken, const Offer &offer)
{
    const QVariant session = QVariant::fromValue(QDBusObjectPath(m_session));
    QVariantMap devices { { u"types"_s, kKeyboard | kPointer } };
    // Options an older portal does not know fail the whole call there.
    if (offer.restorable)
        devices.insert(u"persist_mode"_s, kPersistUntilRevoked);
    if (offer.restorable && !restoreToken.isEmpty())
        devices.insert(u"restore_token"_s, restoreToken);
    request(kRemoteDesktop, u"SelectDevices"_s, { session }, devices, [this, session, offer](const QVariantMap &) {
        QVariantMap sources { { u"types"_s, kMonitor }, { u"multiple"_s, false } };
        if (offer.embeddedCursor)
            sources.insert(u"cursor_mode"_s, kCursorEmbedded);
        request(kScreenCast, u"SelectSources"_s, { session }, sources, [this, session](const QVariantMap &) {
            m_tokenAtStake = true;
            request(kRemoteDesktop, u"Start"_s, { session, QString() }, {}, [this](const QVariantMap &results) {
                // GNOME's dialog lets the user share the screen but switch remote interaction off:
                // support that could only watch is not what was asked for, so it counts as a no.
                const uint granted = results.value(u"devices"_s).toUInt();
                if ((granted & (kKeyboard | kPointer)) != (kKeyboard | kPointer)) {
                    qCWarning(
                        lcPortal, "the portal granted devices %u, not keyboard and pointer: support refused", granted);
                    finish(std::nullopt);
                    return;
                }
                m_tokenAtStake = false;
                Q_EMIT restoreTokenChanged(results.value(u"restore_token"_s).toString());
                const std::optional<Started> started = parseStarted(results);
                if (started)
                    openPipeWire(*started);
                else
                    finish(std::nullopt);
            });
        });
    });
}

void PortalSession::openPipeWire(Started started)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, u"OpenPipeWireRemote"_s);
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap();
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, started](QDBusPendingCallWatcher *reply) mutable {
        reply->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> fd = *reply;
        if (fd.isError() || !fd.value().isValid()) {
            finish(std::nullopt);
            return;
        }
        started.pipeWire = fd.value();
        finish(std::move(started));
    });
}

void PortalSession::request(
    const QString &interface, const QString &method, QVariantList arguments, QVariantMap options, Step next)
{
    const QString token = newToken();
    options.insert(u"handle_token"_s, token);
    arguments << options;
    m_next = std::move(next);
    // Subscribed before calling: the Response may come before the call's own reply.
    const QString predicted = objectPath(u"request"_s, token);
    listen(predicted);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, predicted](QDBusPendingCallWatcher *reply) {
        reply->deleteLater();
        if (!m_requestPaths.contains(predicted))
            return; // answered already
        const QDBusPendingReply<QDBusObjectPath> handle = *reply;
        if (handle.isError())
            finish(std::nullopt);
        else if (handle.value().path() != predicted)
            listen(handle.value().path()); // portals before 0.9 chose their own path
    });
}

void PortalSession::listen(const QString &requestPath)
{
    m_requestPaths << requestPath;
    m_bus.connect(
        kService, requestPath, kRequest, u"Response"_s, this, SLOT(response(uint, QVariantMap, QDBusMessage)));
}

void PortalSession::response(uint code, const QVariantMap &results, const QDBusMessage &message)
{
    if (!m_requestPaths.contains(message.path()))
        return;
    for (const QString &path : std::exchange(m_requestPaths, {})) {
        m_bus.disconnect(
            kService, path, kRequest, u"Response"_s, this, SLOT(response(uint, QVariantMap, QDBusMessage)));
    }
    // 0 is success; 1 the user refused, 2 anything else.
    Step next = std::exchange(m_next, nullptr);
    if (code != 0 || !next)
        finish(std::nullopt);
    else
        next(results);
}

void PortalSession::sessionClosed()
{
    m_session.clear();
    finish(std::nullopt);
    Q_EMIT closed();
}

void PortalSession::finish(std::optional<Started> started)
{
    m_timeout.stop();
    for (const QString &path : std::exchange(m_requestPaths, {})) {
        m_bus.disconnect(
            kService, path, kRequest, u"Response"_s, this, SLOT(response(uint, QVariantMap, QDBusMessage)));
    }
    m_next = nullptr;
    if (std::exchange(m_tokenAtStake, false))
        Q_EMIT restoreTokenChanged(QString());
    if (auto done = std::exchange(m_done, nullptr))
        done(std::move(started));
}

bool PortalSession::notify(const QString &method, const QVariantList &arguments)
{
    if (m_session.isEmpty())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop, method);
    call.setArguments(QVariantList { QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap() } + arguments);
    // Sent in order on the one connection; the empty replies are not waited for.
    return m_bus.send(call);
}

} // namespace pelk::platform
