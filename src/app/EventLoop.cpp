#include "app/EventLoop.h"

#include "app/ApplicationDelegate.h"
#include "app/BrandLook.h"
#include "app/LockRuntime.h"
#include "app/LoginWindowLockDelegate.h"
#include "app/TerminationRequests.h"
#include "app/ViewEngine.h"
#include "app/brand/Brand.h"
#include "lock/ManagedLockController.h"
#include "support/RemoteSupport.h"
#include "support/RemoteSupportController.h"

#include <QApplication>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTimer>

namespace pelk::app {

namespace {

// The status-bar mode until its tray delegate exists: the lock, at the normal level, and
// remote support.
class LockOnlyDelegate : public ApplicationDelegate {
public:
    void applicationDidFinishLaunching() override
    {
        registerBrandFonts();
        m_runtime.lock().start();
        m_views = makeViewEngine();
        m_support = std::make_unique<support::RemoteSupport>(*m_views);
        m_support->controller().start();
    }
    bool applicationShouldTerminate() override { return !m_runtime.lock().isLocked(); }
    void applicationWillTerminate() override
    {
        if (m_support)
            m_support->controller().shutdown();
    }

private:
    LockRuntime m_runtime;
    std::unique_ptr<QQmlEngine> m_views;
    std::unique_ptr<support::RemoteSupport> m_support; // before the engine its windows use
};

std::unique_ptr<ApplicationDelegate> delegateFor(LaunchMode mode)
{
    if (mode == LaunchMode::LoginWindow)
        return std::make_unique<LoginWindowLockDelegate>();
    return std::make_unique<LockOnlyDelegate>();
}

} // namespace

int runEventLoop(LaunchMode mode, const ProcessValues &values, int &argc, char **argv)
{
    // Qt Quick's software renderer: a lock screen must come up on every machine, and with
    // the OpenGL backend a missing or broken GL stack leaves its windows unshown.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelk Agent"));
    QApplication::setQuitOnLastWindowClosed(false);
    Brand::setProcessValues(values);

    const std::unique_ptr<ApplicationDelegate> delegate = delegateFor(mode);
    const TerminationRequests termination(*delegate);
    QTimer::singleShot(0, &application, [&delegate] { delegate->applicationDidFinishLaunching(); });
    QApplication::exec();
    return 0;
}

} // namespace pelk::app
