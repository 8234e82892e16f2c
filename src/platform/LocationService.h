#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>

namespace pelk::platform {

// One position as the location service reported it.
struct LocationFix {
    double latitude = 0;
    double longitude = 0;
    // Radius of uncertainty in metres; negative or NaN marks an invalid position.
    double horizontalAccuracy = -1;
    QDateTime timestamp;
};

// The desktop's location service: permission state, one-shot position requests and the way
// to its privacy settings. Answers arrive later through the signals, on the main thread.
class LocationService : public QObject {
    Q_OBJECT
public:
    enum class Authorization { NotDetermined, Restricted, Denied, Authorized };
    enum class Failure { Denied, Other };

    using QObject::QObject;

    // False when the computer has no location service or it is switched off for everyone.
    virtual bool servicesEnabled() = 0;
    virtual Authorization authorization() = 0;
    // Asks the person for access; the answer comes through authorizationChanged.
    virtual void requestAuthorization() = 0;
    // Asks for one position; it comes through locationsUpdated or failed.
    virtual void requestLocation() = 0;
    virtual void stopUpdatingLocation() = 0;
    // Opens the desktop's location privacy settings where the desktop has them.
    virtual void openLocationSettings() = 0;

Q_SIGNALS:
    void authorizationChanged();
    void locationsUpdated(const QList<pelk::platform::LocationFix> &locations);
    void failed(pelk::platform::LocationService::Failure failure);
};

} // namespace pelk::platform
