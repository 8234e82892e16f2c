#include "platform/linux/PkexecRunner.h"

namespace pelk::platform {

namespace {

// pkexec(1): 126 when the person dismissed the authentication dialog; 127 when not
// authorized, when authentication failed or when pkexec itself failed.
constexpr int kPkexecDismissed = 126;

} // namespace

PkexecRunner::PkexecRunner(QString pkexecPath) : m_pkexecPath(std::move(pkexecPath))
{
}

PrivilegedRunner::Outcome PkexecRunner::classify(QProcess::ExitStatus exitStatus, int exitCode)
{
    if (exitStatus != QProcess::NormalExit)
        return Outcome::Failed;
    if (exitCode == 0)
        return Outcome::Succeeded;
    return exitCode == kPkexecDismissed ? Outcome::Cancelled : Outcome::Failed;
}

PrivilegedRunner::Outcome PkexecRunner::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(m_pkexecPath);
    process.setArguments(QStringList { program } + arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    // The helper's output is not read.
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return Outcome::Failed;
    // The prompt waits for the person for as long as they take.
    if (!process.waitForFinished(-1))
        return Outcome::Failed;
    return classify(process.exitStatus(), process.exitCode());
}

} // namespace pelk::platform
