#include "location/LocationReporter.h"

#include "boundary/AgentBoundary.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "platform/Files.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace pelk::location {

namespace key = boundary::key;
using platform::LocationService;

namespace {

QString internetTime(const QDateTime &instant)
{
    return instant.toUTC().toString(Qt::ISODate);
}

} // namespace

LocationReporter::LocationReporter(LocationService *service, const platform::Clock &clock,
    const platform::Environment &environment, std::function<bool()> isApplicationActive, QString filePath,
    QObject *parent)
    : QObject(parent), m_service(service), m_clock(clock), m_environment(environment),
      m_isApplicationActive(std::move(isApplicationActive)), m_filePath(std::move(filePath))
{
    m_service->setParent(this);
    connect(m_service, &LocationService::authorizationChanged, this, &LocationReporter::request);
    connect(m_service, &LocationService::locationsUpdated, this, &LocationReporter::locationsUpdated);
    connect(m_service, &LocationService::failed, this, &LocationReporter::failed);
}

void LocationReporter::update(bool enrolled)
{
    // Previewing another status file must not report this computer's position.
    if (m_environment.value(boundary::kPreviewStatusVariable))
        return;
    m_active = enrolled;
    if (enrolled) {
        const QDateTime now = m_clock.now();
        if (!m_lastRequest || m_lastRequest->secsTo(now) >= kRequestSpacingSeconds) {
            m_lastRequest = now;
            request();
        }
        return;
    }
    m_service->stopUpdatingLocation();
    m_fix.reset();
    QFile::remove(m_filePath);
}

void LocationReporter::foregrounded()
{
    request();
}

void LocationReporter::enableOrOpenSettings()
{
    if (m_service->authorization() == LocationService::Authorization::NotDetermined) {
        m_requestedPermission = false;
        request();
        return;
    }
    m_service->openLocationSettings();
}

void LocationReporter::request()
{
    if (!m_active)
        return;
    if (!m_service->servicesEnabled()) {
        publish(words::kServicesDisabled, messages::kServicesDisabled, std::nullopt);
        return;
    }
    switch (m_service->authorization()) {
    case LocationService::Authorization::Restricted:
    case LocationService::Authorization::Denied:
        m_fix.reset();
        publish(words::kDenied, messages::kDeniedLong, std::nullopt);
        return;
    case LocationService::Authorization::NotDetermined:
        publish(words::kNotDetermined, messages::kNotDetermined, std::nullopt);
        // The prompt is only asked for while the person is looking at the application.
        if (!m_requestedPermission && m_isApplicationActive && m_isApplicationActive()) {
            m_requestedPermission = true;
            m_service->requestAuthorization();
        }
        return;
    case LocationService::Authorization::Authorized:
        // The file reflects the fix already held before the new one arrives.
        publishFix();
        m_service->requestLocation();
        return;
    }
}

void LocationReporter::publishFix()
{
    // A fix stamped in the future counts as fresh.
    if (m_fix && m_fix->timestamp.msecsTo(m_clock.now()) <= kFixLifetimeSeconds * 1000)
        publish(words::kAvailable, messages::kAvailable, m_fix);
    else
        publish(words::kUnavailable, messages::kUnavailable, std::nullopt);
}

void LocationReporter::publish(
    QLatin1StringView status, const char *message, const std::optional<platform::LocationFix> &fix)
{
    if (!m_active)
        return;
    if (m_onStatus)
        m_onStatus(status, tr(message));

    QJsonObject object { { QString(key::kStatus), QString(status) },
        { QString(key::kUpdatedAt), internetTime(m_clock.now()) } };
    if (fix) {
        object.insert(key::kLatitude, fix->latitude);
        object.insert(key::kLongitude, fix->longitude);
        object.insert(key::kAccuracyMeters, fix->horizontalAccuracy);
        object.insert(key::kRecordedAt, internetTime(fix->timestamp));
    }
    // A failed write leaves the previous file; the next publication tries again.
    platform::replaceFilePrivately(m_filePath, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void LocationReporter::locationsUpdated(const QList<platform::LocationFix> &locations)
{
    if (!m_active || locations.isEmpty())
        return;
    const platform::LocationFix &latest = locations.constLast();
    // Negative accuracy marks an invalid position; NaN fails the comparison too.
    if (!(latest.horizontalAccuracy >= 0) || !latest.timestamp.isValid())
        return;
    m_fix = latest;
    publishFix();
}

void LocationReporter::failed(LocationService::Failure failure)
{
    if (failure == LocationService::Failure::Denied) {
        m_fix.reset();
        publish(words::kDenied, messages::kDeniedShort, std::nullopt);
        return;
    }
    publishFix();
}

} // namespace pelk::location
