#include "support/RemoteSupport.h"

#include "boundary/LocalApi.h"
#include "platform/Clock.h"
#include "platform/linux/LogindConsoleSession.h"
#include "platform/linux/X11Desktop.h"
#include "platform/linux/X11DisplaySleepWatcher.h"
#include "support/QuickSupportWindows.h"
#include "support/RemoteSupportController.h"

namespace pelk::support {

struct RemoteSupport::Parts {
    Parts(QQmlEngine &engine, QString desktopFilePath)
        : session(platform::LogindConsoleSession::forCurrentSession()), windows(engine),
          controller({ *session, desktop, desktop, windows, windows, requester, clock }, std::move(desktopFilePath))
    {
        // The displays going to sleep in the X server ends a session as logind's notices do.
        QObject::connect(&displaySleep, &platform::X11DisplaySleepWatcher::displaysSlept, session.get(),
            &platform::ConsoleSession::sessionEnded);
    }

    std::unique_ptr<platform::LogindConsoleSession> session;
    platform::X11DisplaySleepWatcher displaySleep;
    platform::X11Desktop desktop;
    QuickSupportWindows windows;
    boundary::NetworkApiRequester requester; // its own, never shared with the lock
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
