#pragma once

namespace pelk::platform {
class Platform;
}

namespace pelk::recovery {

// The "--create-recovery-admin" mode: reads one request on standard input, creates the
// account and returns the process exit status (0 only when every step held).
int createRecoveryAdmin(platform::Platform &platform);

} // namespace pelk::recovery
