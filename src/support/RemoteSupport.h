#pragma once

#include "boundary/AgentBoundary.h"

#include <QString>

#include <memory>

class QQmlEngine;

namespace pelk::support {

class RemoteSupportController;

// Remote support as the tray application owns it: the controller with the Linux services
// (logind session and the X server's display sleep, X11 display, Qt Quick windows, its own
// HTTP requester, the wall clock).
class RemoteSupport {
public:
    explicit RemoteSupport(QQmlEngine &engine, QString desktopFilePath = boundary::desktopFilePath());
    ~RemoteSupport();

    RemoteSupportController &controller();

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

} // namespace pelk::support
