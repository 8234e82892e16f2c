#pragma once

#include <QString>

#include <memory>

class QQmlEngine;

namespace pelk::boundary {
class AgentDirectoryWatcher;
class NetworkApiRequester;
} // namespace pelk::boundary
namespace pelk::lock {
class LockScreens;
class ManagedLockController;
} // namespace pelk::lock
namespace pelk::platform {
class DesktopLockdown;
}

namespace pelk::app {

// The managed lock with its real collaborators: Qt Quick lock windows, the platform's
// lockdown and the local agent API, reading the agent's lock state file.
class LockRuntime {
public:
    // The agent's lock state file unless another is given.
    explicit LockRuntime(std::unique_ptr<platform::DesktopLockdown> lockdown, const QString &lockFilePath = QString());
    ~LockRuntime();

    lock::ManagedLockController &lock() { return *m_lock; }
    // The engine of every view of the application, shared so that QML is loaded once.
    QQmlEngine &engine() { return *m_engine; }
    // What this desktop cannot do while locked (empty where the lock works in full).
    QString limitation() const;
    // The lock state file's directory: the lock follows its file at once, others may follow theirs.
    boundary::AgentDirectoryWatcher &agentDirectory() { return *m_agentDirectory; }

private:
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<platform::DesktopLockdown> m_lockdown;
    // Drawn into the compositor's session lock where the lockdown has one, else as windows.
    std::unique_ptr<lock::LockScreens> m_screens;
    std::unique_ptr<boundary::NetworkApiRequester> m_requester;
    std::unique_ptr<lock::ManagedLockController> m_lock;
    std::unique_ptr<boundary::AgentDirectoryWatcher> m_agentDirectory;
};

} // namespace pelk::app
