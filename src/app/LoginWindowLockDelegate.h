#pragma once

#include "app/ApplicationDelegate.h"
#include "app/LockRuntime.h"
#include "platform/DesktopLockdown.h"

namespace pelk::app {

// The "--login-window" mode: only the managed lock, its windows above a display manager's
// greeter. No tray icon, no window, nothing else polled.
class LoginWindowLockDelegate : public ApplicationDelegate {
public:
    explicit LoginWindowLockDelegate(std::unique_ptr<platform::DesktopLockdown> lockdown)
        : m_runtime(std::move(lockdown))
    {
    }

    void applicationDidFinishLaunching() override;
    bool applicationShouldTerminate() override;

private:
    LockRuntime m_runtime;
};

} // namespace pelk::app
