#include "app/LaunchMode.h"

#include "boundary/AgentBoundary.h"

namespace pelk::app {

using namespace Qt::StringLiterals;

bool hasSwitch(const QStringList &arguments, QLatin1StringView name)
{
    return arguments.contains(name, Qt::CaseSensitive);
}

LaunchMode launchModeFor(const QStringList &arguments)
{
    if (hasSwitch(arguments, boundary::kRecoveryAdminSwitch))
        return LaunchMode::CreateRecoveryAdmin;
    if (hasSwitch(arguments, "--lock-session"_L1))
        return LaunchMode::LockSession;
    if (hasSwitch(arguments, "--login-window"_L1))
        return LaunchMode::LoginWindow;
    return LaunchMode::StatusBar;
}

} // namespace pelk::app
