#pragma once

#include "platform/LocationService.h"

namespace pelk::fakes {

// A location service whose state the test sets and whose answers the test delivers.
class FakeLocationService final : public platform::LocationService {
public:
    bool enabled = true;
    Authorization access = Authorization::Authorized;
    int authorizationRequests = 0;
    int locationRequests = 0;
    int stops = 0;
    int settingsOpened = 0;

    bool servicesEnabled() override { return enabled; }
    Authorization authorization() override { return access; }
    void requestAuthorization() override { ++authorizationRequests; }
    void requestLocation() override { ++locationRequests; }
    void stopUpdatingLocation() override { ++stops; }
    void openLocationSettings() override { ++settingsOpened; }

    void answer(Authorization newAccess) { access = newAccess, Q_EMIT authorizationChanged(); }
    void deliver(const QList<platform::LocationFix> &fixes) { Q_EMIT locationsUpdated(fixes); }
    void fail(Failure failure) { Q_EMIT failed(failure); }
};

} // namespace pelk::fakes
