#include "app/LockRuntime.h"

#include "app/ViewEngine.h"
#include "boundary/LocalApi.h"
#include "lock/ManagedLockController.h"
#include "lock/QuickLockScreens.h"
#include "platform/DesktopLockdown.h"

#include <QQmlEngine>

namespace pelk::app {

LockRuntime::LockRuntime(std::unique_ptr<platform::DesktopLockdown> lockdown, const QString &lockFilePath)
    : m_engine(makeViewEngine()), m_screens(std::make_unique<lock::QuickLockScreens>(*m_engine)),
      m_lockdown(std::move(lockdown)), m_requester(std::make_unique<boundary::NetworkApiRequester>()),
      m_lock(std::make_unique<lock::ManagedLockController>(
          *m_screens, *m_lockdown, *m_requester, lockFilePath.isEmpty() ? boundary::lockFilePath() : lockFilePath))
{
}

QString LockRuntime::limitation() const
{
    return m_lockdown->limitation();
}

// The controller goes first: its windows belong to the engine and its requests to the requester.
LockRuntime::~LockRuntime()
{
    m_lock.reset();
}

} // namespace pelk::app
