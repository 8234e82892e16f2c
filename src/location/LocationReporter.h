#pragma once

#include "platform/LocationService.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace pelk::platform {
class Clock;
class Environment;
} // namespace pelk::platform

namespace pelk::location {

// Status words written to the location file, and the sentence shown with each.
namespace words {
inline constexpr QLatin1StringView kServicesDisabled { "services_disabled" };
inline constexpr QLatin1StringView kDenied { "denied" };
inline constexpr QLatin1StringView kNotDetermined { "not_determined" };
inline constexpr QLatin1StringView kAvailable { "available" };
inline constexpr QLatin1StringView kUnavailable { "unavailable" };
} // namespace words

// The sentences for the setup window, in English; published through tr().
namespace messages {
inline constexpr char kServicesDisabled[] = QT_TRANSLATE_NOOP(
    "pelk::location::LocationReporter", "Location Services are off. Enable them in your desktop’s settings.");
inline constexpr char kDeniedLong[] = QT_TRANSLATE_NOOP("pelk::location::LocationReporter",
    "Location access is off. Allow Pelk Agent in Settings → Privacy → Location Services.");
inline constexpr char kDeniedShort[] = QT_TRANSLATE_NOOP(
    "pelk::location::LocationReporter", "Location access is off. Allow Pelk Agent in your desktop’s settings.");
inline constexpr char kNotDetermined[]
    = QT_TRANSLATE_NOOP("pelk::location::LocationReporter", "Allow Pelk Agent to report this device’s location.");
inline constexpr char kAvailable[] = QT_TRANSLATE_NOOP("pelk::location::LocationReporter", "Location reporting is on.");
inline constexpr char kUnavailable[] = QT_TRANSLATE_NOOP("pelk::location::LocationReporter",
    "Waiting for a location from this computer. Battery and device health still report normally.");
} // namespace messages

// While the device is enrolled, keeps the per-user location file up to date with a status
// word and, when a recent enough position is held, that position.
class LocationReporter : public QObject {
    Q_OBJECT
public:
    // The least time between two requests started by update().
    static constexpr qint64 kRequestSpacingSeconds = 60;
    // The oldest position still reported as available.
    static constexpr qint64 kFixLifetimeSeconds = 300;

    // Takes ownership of service; clock and environment must outlive the reporter.
    // isApplicationActive tells whether the application is the active one, the only time
    // the permission prompt may be asked for. filePath is where the location file goes.
    LocationReporter(platform::LocationService *service, const platform::Clock &clock,
        const platform::Environment &environment, std::function<bool()> isApplicationActive, QString filePath,
        QObject *parent = nullptr);

    // Told after every accepted status poll whether the device is enrolled.
    void update(bool enrolled);
    // The application became active: ask at once, without the spacing of update().
    void foregrounded();
    // The location button: ask again for permission if never answered, else open the settings.
    Q_INVOKABLE void enableOrOpenSettings();

    // Told the status word and the sentence of every publication.
    void setOnStatus(std::function<void(QLatin1StringView, const QString &)> onStatus)
    {
        m_onStatus = std::move(onStatus);
    }

    bool isActive() const { return m_active; }

private:
    void request();
    void publishFix();
    void publish(QLatin1StringView status, const char *message, const std::optional<platform::LocationFix> &fix);
    void locationsUpdated(const QList<platform::LocationFix> &locations);
    void failed(platform::LocationService::Failure failure);

    platform::LocationService *m_service;
    const platform::Clock &m_clock;
    const platform::Environment &m_environment;
    std::function<bool()> m_isApplicationActive;
    QString m_filePath;
    bool m_active = false;
    bool m_requestedPermission = false;
    std::optional<QDateTime> m_lastRequest; // absent: the distant past
    std::optional<platform::LocationFix> m_fix;
    std::function<void(QLatin1StringView, const QString &)> m_onStatus;
};

} // namespace pelk::location
