#include "recovery/RecoveryAdmin.h"

namespace pelk::recovery {

int createRecoveryAdmin()
{
    // Account creation is not available in this build yet: refuse without reading stdin.
    return 1;
}

} // namespace pelk::recovery
