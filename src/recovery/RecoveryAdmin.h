#pragma once

#include <QByteArray>

#include <optional>

namespace pelk::recovery {

// The "--create-recovery-admin" mode: reads one request on standard input, creates the
// account and returns the process exit status (0 only when every step held).
int createRecoveryAdmin();

// Standard input to its end, but never more than maxBytes and never waiting beyond a time limit;
// nothing when it cannot be read.
std::optional<QByteArray> readStandardInput(qsizetype maxBytes);

} // namespace pelk::recovery
