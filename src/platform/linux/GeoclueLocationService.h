#pragma once

#include "platform/Clock.h"
#include "platform/LocationService.h"

#include <QDateTime>
#include <QGeoPositionInfoSource>
#include <QString>

#include <optional>

namespace pelk::platform {

// The location service of a Linux desktop: GeoClue 2 through Qt Positioning. GeoClue has no
// permission state a client can read: the desktop's agent answers when a client starts. So
// access is not determined until the first request, authorized once a position came and
// denied once GeoClue refused; a refusal is probed again quietly at most once a minute so
// that a change in the settings is noticed. GeoClue refuses a desktop id without an
// installed .desktop file, so that case is denied from the start. Whether location is switched
// on for the computer is read asynchronously, so a stuck service never blocks the caller.
class GeoclueLocationService final : public LocationService {
    Q_OBJECT
public:
    // The desktop id names the application's .desktop file, without its extension.
    static constexpr QLatin1StringView kDefaultDesktopId { "pelk-agent" };

    // clock, when given, must outlive the service; the system clock otherwise.
    explicit GeoclueLocationService(
        QString desktopId = QString(kDefaultDesktopId), const Clock *clock = nullptr, QObject *parent = nullptr);

    bool servicesEnabled() override;
    Authorization authorization() override;
    void requestAuthorization() override;
    void requestLocation() override;
    void stopUpdatingLocation() override;
    void openLocationSettings() override;

private:
    QGeoPositionInfoSource *source();
    bool desktopFileInstalled() const;
    void startRequest();
    void queryAvailableAccuracy();
    void positionUpdated(const QGeoPositionInfo &info);
    void errorOccurred(QGeoPositionInfoSource::Error error);

    QString m_desktopId;
    SystemClock m_systemClock;
    const Clock &m_clock;
    QGeoPositionInfoSource *m_source = nullptr;
    bool m_sourceTried = false;
    bool m_accuracyQueryPending = false;
    std::optional<bool> m_servicesOn; // unknown until GeoClue first answers
    Authorization m_answer = Authorization::NotDetermined;
    QDateTime m_lastProbe;
    bool m_quietProbe = false;
};

} // namespace pelk::platform
