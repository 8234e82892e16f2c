// pelk-recovery-tree ROOT < request
// Runs the recovery administrator mode exactly as "--create-recovery-admin" does, but against the
// account files and home directories of another root tree, so a developer can watch it work
// without touching this machine's accounts. Exit status as the mode's own.

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/ShadowDirectoryService.h"
#include "recovery/RecoveryAdminCreator.h"

#include <QDir>
#include <QFile>

int main(int argc, char **argv)
{
    if (argc != 2 || !QDir::isAbsolutePath(QFile::decodeName(argv[1])) || QDir(QFile::decodeName(argv[1])).isRoot())
        return 2;
    pelk::platform::LinuxPlatform platform;
    pelk::platform::ShadowDirectoryService directory(QFile::decodeName(argv[1]));
    pelk::recovery::RecoveryAdminCreator creator(
        [&platform](qsizetype maxBytes) { return platform.readStandardInput(maxBytes); },
        [&platform] { return platform.effectiveUserId(); }, directory);
    return creator.run();
}
