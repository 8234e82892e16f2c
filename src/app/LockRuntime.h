#pragma once

#include <memory>

class QQmlEngine;

namespace pelk::agent {
class NetworkApiRequester;
}
namespace pelk::lock {
class ManagedLockController;
class QuickLockScreens;
} // namespace pelk::lock
namespace pelk::platform {
class X11DesktopLockdown;
}

namespace pelk::app {

// The managed lock with its real collaborators: Qt Quick lock windows, the X11 lockdown and
// the local agent API, reading the agent's lock state file.
class LockRuntime {
public:
    LockRuntime();
    ~LockRuntime();

    lock::ManagedLockController &lock() { return *m_lock; }

private:
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<lock::QuickLockScreens> m_screens;
    std::unique_ptr<platform::X11DesktopLockdown> m_lockdown;
    std::unique_ptr<agent::NetworkApiRequester> m_requester;
    std::unique_ptr<lock::ManagedLockController> m_lock;
};

} // namespace pelk::app
