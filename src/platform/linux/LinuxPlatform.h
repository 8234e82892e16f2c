#pragma once

#include "platform/Platform.h"

namespace pelk::platform {

// The real services on a Linux desktop: logind and GeoClue over D-Bus, pkexec, the shadow
// tools, and X11 for the lock, the windows and remote support.
class LinuxPlatform final : public Platform {
public:
    void hardenProcess() override;
    uint effectiveUserId() const override;
    uint userId() const override;
    std::optional<QByteArray> readStandardInput(qsizetype maxBytes) override;
    // Before the GUI application exists: in a Wayland session with Xwayland, Qt's windows go to
    // Xwayland, where the lock's grabs and stacking apply, whatever Qt would pick.
    static void chooseWindowSystem();

    std::unique_ptr<Clock> clock() override;
    std::unique_ptr<Environment> environment() override;
    std::unique_ptr<TerminationSignals> terminationSignals() override;
    std::unique_ptr<SessionLocker> sessionLocker() override;
    std::unique_ptr<SingleInstance> singleInstance() override;
    std::unique_ptr<DirectoryService> directoryService() override;
    std::shared_ptr<PrivilegedRunner> privilegedRunner() override;
    LocationService *locationService() override;

    std::unique_ptr<DesktopLockdown> desktopLockdown() override;
    std::unique_ptr<WindowStacking> windowStacking() override;
    std::unique_ptr<RemoteDesktop> remoteDesktop() override;
    std::unique_ptr<ColorScheme> colorScheme() override;
    std::unique_ptr<ConsoleSession> consoleSession() override;
};

} // namespace pelk::platform
