#include "app/LockRuntime.h"

#include "app/ViewEngine.h"
#include "boundary/AgentDirectoryWatcher.h"
#include "boundary/LocalApi.h"
#include "lock/ManagedLockController.h"
#include "lock/QuickLockScreens.h"
#include "lock/RenderedLockScreens.h"
#include "platform/DesktopLockdown.h"

#include <QFileInfo>
#include <QQmlEngine>

namespace pelk::app {

LockRuntime::LockRuntime(std::unique_ptr<platform::DesktopLockdown> lockdown, const QString &lockFilePath)
    : m_engine(makeViewEngine()), m_lockdown(std::move(lockdown)),
      m_requester(std::make_unique<boundary::NetworkApiRequester>())
{
    if (platform::CompositorLock *compositor = m_lockdown->compositorLock())
        m_screens = std::make_unique<lock::RenderedLockScreens>(*m_engine, *compositor);
    else
        m_screens = std::make_unique<lock::QuickLockScreens>(*m_engine);
    const QString path = lockFilePath.isEmpty() ? boundary::lockFilePath() : lockFilePath;
    m_lock = std::make_unique<lock::ManagedLockController>(*m_screens, *m_lockdown, *m_requester, path);
    // A new record locks or unlocks at once; the controller's own second keeps holding the lock.
    m_agentDirectory = std::make_unique<boundary::AgentDirectoryWatcher>(QFileInfo(path).absolutePath());
    m_agentDirectory->follow(path, [lock = m_lock.get()] { lock->refresh(); });
}

QString LockRuntime::limitation() const
{
    return m_lockdown->limitation();
}

// The controller goes first: its windows belong to the engine and its requests to the requester.
LockRuntime::~LockRuntime()
{
    m_agentDirectory.reset();
    m_lock.reset();
}

} // namespace pelk::app
