#include "recovery/RecoveryAdmin.h"

#include "platform/DirectoryService.h"
#include "platform/Platform.h"
#include "recovery/RecoveryAdminCreator.h"

namespace pelk::recovery {

int createRecoveryAdmin(platform::Platform &platform)
{
    const auto directory = platform.directoryService();
    RecoveryAdminCreator creator([&platform](qsizetype maxBytes) { return platform.readStandardInput(maxBytes); },
        [&platform] { return platform.effectiveUserId(); }, *directory);
    return creator.run();
}

} // namespace pelk::recovery
