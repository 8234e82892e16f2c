#include "support/RemoteSupport.h"

#include "agent/LocalApi.h"
#include "platform/Clock.h"
#include "platform/linux/LogindConsoleSession.h"
#include "platform/linux/X11Desktop.h"
#include "support/QuickSupportWindows.h"
#include "support/RemoteSupportController.h"

namespace pelk::support {

struct RemoteSupport::Parts {
    Parts(QQmlEngine &engine, QString desktopFilePath)
        : session(platform::LogindConsoleSession::forCurrentSession()), windows(engine),
          controller({ *session, desktop, desktop, windows, windows, requester, clock }, std::move(desktopFilePath))
    {
    }

    std::unique_ptr<platform::LogindConsoleSession> session;
    platform::X11Desktop desktop;
    QuickSupportWindows windows;
    agent::NetworkApiRequester requester; // its own, never shared with the lock
    platform::SystemClock clock;
    RemoteSupportController controller;
};

RemoteSupport::RemoteSupport(QQmlEngine &engine, QString desktopFilePath)
    : m_parts(std::make_unique<Parts>(engine, std::move(desktopFilePath)))
{
}

RemoteSupport::~RemoteSupport() = default;

RemoteSupportController &RemoteSupport::controller()
{
    return m_parts->controller;
}

} // namespace pelk::support
