#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>
#include <optional>

namespace pelk::platform {

class Clock;
class ColorScheme;
class ConsoleSession;
class DesktopLockdown;
class DirectoryService;
class Environment;
class LocationService;
class PrivilegedRunner;
class RemoteDesktop;
class SessionLocker;
class SingleInstance;
class TerminationSignals;
class WindowStacking;

// Everything the operating system gives this program. main builds the one real instance and
// hands it down; every feature gets its services from here through its constructor.
class Platform {
public:
    virtual ~Platform() = default;

    // Process-wide hardening, first thing in main: secrets pass through this process, so it
    // never leaves a core dump behind.
    virtual void hardenProcess() = 0;
    virtual uint effectiveUserId() const = 0;
    // The user this process runs for (the real user id).
    virtual uint userId() const = 0;
    // Standard input to its end, but never more than maxBytes and never waiting beyond a time
    // limit; nothing when it cannot be read. What was read of a failed request is wiped.
    virtual std::optional<QByteArray> readStandardInput(qsizetype maxBytes) = 0;

    virtual std::unique_ptr<Clock> clock() = 0;
    virtual std::unique_ptr<Environment> environment() = 0;
    virtual std::unique_ptr<TerminationSignals> terminationSignals() = 0;
    virtual std::unique_ptr<SessionLocker> sessionLocker() = 0;
    virtual std::unique_ptr<SingleInstance> singleInstance() = 0;
    virtual std::unique_ptr<DirectoryService> directoryService() = 0;
    virtual std::shared_ptr<PrivilegedRunner> privilegedRunner() = 0;
    // A QObject: the caller gives it a parent.
    virtual LocationService *locationService() = 0;

    // Needs the GUI application (they talk to its display).
    virtual std::unique_ptr<DesktopLockdown> desktopLockdown() = 0;
    virtual std::unique_ptr<WindowStacking> windowStacking() = 0;
    virtual std::unique_ptr<RemoteDesktop> remoteDesktop() = 0;
    virtual std::unique_ptr<ColorScheme> colorScheme() = 0;
    // This login session, which also ends when the displays go to sleep.
    virtual std::unique_ptr<ConsoleSession> consoleSession() = 0;
};

} // namespace pelk::platform
