#include "platform/linux/GeoclueLocationService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGeoPositionInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QVariantMap>

#include <cmath>
#include <utility>

namespace pelk::platform {

using namespace Qt::StringLiterals;

namespace {

const QString kGeoclueService = u"org.freedesktop.GeoClue2"_s;
// Long enough for a cold start of Wi-Fi positioning, short enough to notice a dead service.
constexpr int kRequestTimeoutMs = 60000;
constexpr qint64 kReprobeSeconds = 60;
constexpr int kQueryTimeoutMs = 5000;

bool geoclueReachable()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    QDBusConnectionInterface *daemon = bus.interface();
    if (daemon->isServiceRegistered(kGeoclueService))
        return true;
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(kGeoclueService);
}

} // namespace

GeoclueLocationService::GeoclueLocationService(QString desktopId, const Clock *clock, QObject *parent)
    : LocationService(parent), m_desktopId(std::move(desktopId)), m_clock(clock ? *clock : m_systemClock)
{
}

QGeoPositionInfoSource *GeoclueLocationService::source()
{
    if (!m_sourceTried) {
        m_sourceTried = true;
        m_source = QGeoPositionInfoSource::createSource(
            u"geoclue2"_s, QVariantMap { { u"desktopId"_s, m_desktopId } }, this);
        if (m_source) {
            // About a hundred metres is enough: street level rather than exact.
            m_source->setPreferredPositioningMethods(QGeoPositionInfoSource::NonSatellitePositioningMethods);
            connect(m_source, &QGeoPositionInfoSource::positionUpdated, this, &GeoclueLocationService::positionUpdated);
            connect(m_source, &QGeoPositionInfoSource::errorOccurred, this, &GeoclueLocationService::errorOccurred);
        }
    }
    return m_source;
}

bool GeoclueLocationService::desktopFileInstalled() const
{
    return !QStandardPaths::locate(QStandardPaths::ApplicationsLocation, m_desktopId + u".desktop"_s).isEmpty();
}

bool GeoclueLocationService::servicesEnabled()
{
    if (!geoclueReachable() || !source())
        return false;
    queryAvailableAccuracy();
    // Until GeoClue has answered, assume it is on: the request then finds out.
    return m_servicesOn.value_or(true);
}

void GeoclueLocationService::queryAvailableAccuracy()
{
    if (m_accuracyQueryPending)
        return;
    m_accuracyQueryPending = true;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kGeoclueService, u"/org/freedesktop/GeoClue2/Manager"_s, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    get << u"org.freedesktop.GeoClue2.Manager"_s << u"AvailableAccuracyLevel"_s;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(get, kQueryTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        m_accuracyQueryPending = false;
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (reply.isError())
            return;
        // GeoClue offers no accuracy at all (level 0) when location is off for the computer.
        const bool on = reply.value().variant().toUInt() != 0;
        const bool changed = m_servicesOn.value_or(true) != on;
        m_servicesOn = on;
        if (changed)
            Q_EMIT authorizationChanged();
    });
}

LocationService::Authorization GeoclueLocationService::authorization()
{
    if (!desktopFileInstalled())
        return Authorization::Denied;
    // GeoClue has no question without a request, and a tray application is never the active
    // one that may ask: the first look asks GeoClue itself, a denied answer again each minute.
    const bool undetermined = m_answer == Authorization::NotDetermined && !m_lastProbe.isValid();
    if ((undetermined || m_answer == Authorization::Denied) && source()) {
        const QDateTime now = m_clock.now();
        if (!m_lastProbe.isValid() || m_lastProbe.secsTo(now) >= kReprobeSeconds) {
            m_lastProbe = now;
            m_quietProbe = true;
            startRequest();
        }
    }
    return m_answer;
}

void GeoclueLocationService::requestAuthorization()
{
    // Starting a client is what makes the desktop's agent ask.
    startRequest();
}

void GeoclueLocationService::requestLocation()
{
    startRequest();
}

void GeoclueLocationService::stopUpdatingLocation()
{
    // Only one-shot requests are made; an answer that arrives late is ignored by the reporter.
}

void GeoclueLocationService::startRequest()
{
    if (QGeoPositionInfoSource *s = source())
        s->requestUpdate(kRequestTimeoutMs);
}

void GeoclueLocationService::openLocationSettings()
{
    // Only GNOME has a location privacy page to open; other desktops get nothing.
    const QString desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (!desktops.split(u':').contains(u"GNOME"_s, Qt::CaseInsensitive))
        return;
    const QString program = QStandardPaths::findExecutable(u"gnome-control-center"_s);
    if (!program.isEmpty())
        QProcess::startDetached(program, { u"location"_s });
}

void GeoclueLocationService::positionUpdated(const QGeoPositionInfo &info)
{
    m_quietProbe = false;
    if (m_answer != Authorization::Authorized) {
        m_answer = Authorization::Authorized;
        Q_EMIT authorizationChanged();
    }
    LocationFix fix;
    fix.latitude = info.coordinate().latitude();
    fix.longitude = info.coordinate().longitude();
    fix.horizontalAccuracy = info.hasAttribute(QGeoPositionInfo::HorizontalAccuracy)
        ? info.attribute(QGeoPositionInfo::HorizontalAccuracy)
        : -1;
    if (!info.coordinate().isValid())
        fix.horizontalAccuracy = -1;
    fix.timestamp = info.timestamp().toUTC();
    Q_EMIT locationsUpdated({ fix });
}

void GeoclueLocationService::errorOccurred(QGeoPositionInfoSource::Error error)
{
    const bool quiet = std::exchange(m_quietProbe, false);
    if (error == QGeoPositionInfoSource::AccessError && m_source) {
        // The plugin keeps its request timer running after a refusal and ignores every
        // request until it expires: start over with a fresh source next time.
        m_source->disconnect(this);
        m_source->deleteLater();
        m_source = nullptr;
        m_sourceTried = false;
    }
    // A probe while denied only looks for access granted: its failures say nothing new.
    if (quiet && m_answer == Authorization::Denied)
        return;
    if (error != QGeoPositionInfoSource::AccessError) {
        Q_EMIT failed(Failure::Other);
        return;
    }
    if (m_answer != Authorization::Denied) {
        m_answer = Authorization::Denied;
        m_lastProbe = m_clock.now();
        Q_EMIT authorizationChanged();
        return;
    }
    Q_EMIT failed(Failure::Denied);
}

} // namespace pelk::platform
