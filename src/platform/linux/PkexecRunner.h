#pragma once

#include "platform/PrivilegedRunner.h"

#include <QProcess>
#include <QString>

namespace pelk::platform {

// Runs the command line as root through polkit: pkexec <shell> -c <command line>. The polkit
// agent of the session asks for an administrator's credentials.
class PkexecRunner final : public PrivilegedRunner {
public:
    explicit PkexecRunner(
        QString pkexecPath = QStringLiteral("/usr/bin/pkexec"), QString shellPath = QStringLiteral("/bin/sh"));

    Outcome run(const QString &commandLine) override;

    // The script the shell runs: the command line, then any failure of it folded into status 1.
    // pkexec execs the shell, so its exit status is the script's, and 126 (the prompt was
    // dismissed) can then only come from pkexec itself, never from a helper or a shell that
    // happens to exit 126 or 127.
    static QString script(const QString &commandLine);
    static Outcome classify(QProcess::ExitStatus exitStatus, int exitCode);

private:
    QString m_pkexecPath;
    QString m_shellPath;
};

} // namespace pelk::platform
