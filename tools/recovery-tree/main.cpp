// pelk-recovery-tree ROOT < request
// Runs the recovery administrator mode exactly as "--create-recovery-admin" does, but against the
// account files and home directories of another root tree, so a developer can watch it work
// without touching this machine's accounts. Exit status as the mode's own.

#include "platform/linux/ShadowDirectoryService.h"
#include "recovery/RecoveryAdmin.h"
#include "recovery/RecoveryAdminCreator.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 2 || !QDir::isAbsolutePath(QFile::decodeName(argv[1])) || QDir(QFile::decodeName(argv[1])).isRoot())
        return 2;
    pelk::platform::ShadowDirectoryService directory(QFile::decodeName(argv[1]));
    pelk::recovery::RecoveryAdminCreator creator(
        pelk::recovery::readStandardInput, [] { return uint(::geteuid()); }, directory);
    return creator.run();
}
