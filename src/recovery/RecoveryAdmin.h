#pragma once

namespace pelk::recovery {

// The "--create-recovery-admin" mode: reads one request on standard input, creates the
// account and returns the process exit status (0 only when every step held).
int createRecoveryAdmin();

} // namespace pelk::recovery
