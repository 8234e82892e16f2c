#include "app/LoginWindowLockDelegate.h"

#include "app/BrandLook.h"
#include "lock/ManagedLockController.h"

namespace pelk::app {

void LoginWindowLockDelegate::applicationDidFinishLaunching()
{
    registerBrandFonts();
    m_runtime.lock().setAboveLoginWindow(true);
    m_runtime.lock().start();
}

bool LoginWindowLockDelegate::applicationShouldTerminate()
{
    return !m_runtime.lock().isLocked();
}

} // namespace pelk::app
