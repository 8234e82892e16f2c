#include "support/RemoteSupport.h"

#include "boundary/LocalApi.h"
#include "platform/Clock.h"
#include "platform/ConsoleSession.h"
#include "platform/Platform.h"
#include "platform/RemoteDesktop.h"
#include "platform/WindowStacking.h"
#include "support/QuickSupportWindows.h"
#include "support/RemoteSupportController.h"

namespace pelk::support {

struct RemoteSupport::Parts {
    Parts(QQmlEngine &engine, platform::Platform &platform, QString desktopFilePath)
        : session(platform.consoleSession()), desktop(platform.remoteDesktop()), stacking(platform.windowStacking()),
          clock(platform.clock()), windows(engine, *stacking),
          controller({ *session, *desktop, *desktop, windows, windows, requester, *clock }, std::move(desktopFilePath))
    {
    }

    std::unique_ptr<platform::ConsoleSession> session;
    std::unique_ptr<platform::RemoteDesktop> desktop;
    std::unique_ptr<platform::WindowStacking> stacking;
    std::unique_ptr<platform::Clock> clock;
    QuickSupportWindows windows;
    boundary::NetworkApiRequester requester; // its own, never shared with the lock
    RemoteSupportController controller;
};

RemoteSupport::RemoteSupport(QQmlEngine &engine, platform::Platform &platform, QString desktopFilePath)
    : m_parts(std::make_unique<Parts>(engine, platform, std::move(desktopFilePath)))
{
}

RemoteSupport::~RemoteSupport() = default;

RemoteSupportController &RemoteSupport::controller()
{
    return m_parts->controller;
}

} // namespace pelk::support
