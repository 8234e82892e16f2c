#include "app/EventLoop.h"
#include "app/Guard.h"
#include "app/LaunchMode.h"
#include "app/ProcessValues.h"
#include "boundary/AgentBoundary.h"
#include "platform/SessionLocker.h"
#include "platform/linux/CrashGuard.h"
#include "platform/linux/LinuxPlatform.h"
#include "recovery/RecoveryAdmin.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QStringList argumentList(int argc, char **argv)
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// The one-shot modes report through their exit status alone.
void silence(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

// The composition root: the one place that builds the real platform and hands it down.
int main(int argc, char **argv)
{
    const pelk::app::ProcessValues values = pelk::app::ProcessValues::standard();
    pelk::platform::LinuxPlatform platform;
    platform.hardenProcess();

    const pelk::app::LaunchMode mode = pelk::app::launchModeFor(argumentList(argc, argv));
    switch (mode) {
    case pelk::app::LaunchMode::CreateRecoveryAdmin:
        qInstallMessageHandler(silence);
        return pelk::recovery::createRecoveryAdmin(platform);
    case pelk::app::LaunchMode::LockSession: {
        qInstallMessageHandler(silence);
        const QCoreApplication core(argc, argv);
        return platform.sessionLocker()->lockSession() ? 0 : 1;
    }
    case pelk::app::LaunchMode::LoginWindow:
    case pelk::app::LaunchMode::StatusBar:
        break;
    }
    pelk::platform::LinuxPlatform::chooseWindowSystem();
    // The process that draws the lock runs under a guard that brings it back should it die.
    if (!pelk::platform::CrashGuard::isGuardedChild())
        return pelk::app::runGuarded(argv, pelk::boundary::lockFilePath());
    return pelk::app::runEventLoop(mode, values, platform, argc, argv);
}
