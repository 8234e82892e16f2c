#pragma once

#include "platform/PrivilegedRunner.h"

#include <QProcess>
#include <QString>

namespace pelk::platform {

// Runs the program as root through polkit: pkexec <program> <arguments>, no shell in between,
// so the session's polkit agent shows the program's own action (its message names what the
// administrator approves) rather than a request to run a shell.
class PkexecRunner final : public PrivilegedRunner {
public:
    explicit PkexecRunner(QString pkexecPath = QStringLiteral("/usr/bin/pkexec"));

    Outcome run(const QString &program, const QStringList &arguments) override;

    // pkexec execs the program, so its exit status is the program's: a program that exits
    // 126 itself reads as a dismissed prompt. The device helper reports by 0 or non-zero only.
    static Outcome classify(QProcess::ExitStatus exitStatus, int exitCode);

private:
    QString m_pkexecPath;
};

} // namespace pelk::platform
