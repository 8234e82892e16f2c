#include "app/EventLoop.h"
#include "app/LaunchMode.h"
#include "app/ProcessValues.h"
#include "platform/linux/LogindSessionLocker.h"
#include "recovery/RecoveryAdmin.h"

#include <QCoreApplication>
#include <QStringList>

#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

// PINs, enrollment tokens and recovery passwords pass through this process: never dump it.
void disableCoreDumps()
{
    const rlimit none { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

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

int main(int argc, char **argv)
{
    const pelk::app::ProcessValues values = pelk::app::ProcessValues::standard();
    disableCoreDumps();

    const pelk::app::LaunchMode mode = pelk::app::launchModeFor(argumentList(argc, argv));
    switch (mode) {
    case pelk::app::LaunchMode::CreateRecoveryAdmin:
        qInstallMessageHandler(silence);
        return pelk::recovery::createRecoveryAdmin();
    case pelk::app::LaunchMode::LockSession: {
        qInstallMessageHandler(silence);
        const QCoreApplication core(argc, argv);
        auto locker = pelk::platform::LogindSessionLocker::forCurrentSession();
        return locker.lockSession() ? 0 : 1;
    }
    case pelk::app::LaunchMode::LoginWindow:
    case pelk::app::LaunchMode::StatusBar:
        break;
    }
    return pelk::app::runEventLoop(mode, values, argc, argv);
}
