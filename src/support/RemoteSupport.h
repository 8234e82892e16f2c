#pragma once

#include "boundary/AgentBoundary.h"

#include <QString>

#include <memory>

class QQmlEngine;

namespace pelk::platform {
class Platform;
}

namespace pelk::support {

class RemoteSupportController;

// Remote support as the tray application owns it: the controller with the platform's
// session, display and window stacking, Qt Quick windows, its own HTTP requester and clock.
class RemoteSupport {
public:
    RemoteSupport(
        QQmlEngine &engine, platform::Platform &platform, QString desktopFilePath = boundary::desktopFilePath());
    ~RemoteSupport();

    RemoteSupportController &controller();

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

} // namespace pelk::support
