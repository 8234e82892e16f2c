#pragma once

#include "platform/DirectoryService.h"
#include "recovery/RecoveryRequest.h"

#include <QByteArray>

#include <functional>
#include <optional>

namespace pelk::recovery {

// Creates the recovery administrator account from one request, step by step, and answers with
// the exit status: 0 only when the account exists, is an administrator, accepts the password and
// has a home directory; 1 for every failure. Nothing done before a failure is undone.
class RecoveryAdminCreator {
public:
    // Reads standard input to its end, but never more than maxBytes; nothing when reading fails.
    using InputReader = std::function<std::optional<QByteArray>(qsizetype maxBytes)>;
    using EffectiveUid = std::function<uint()>;

    RecoveryAdminCreator(InputReader readInput, EffectiveUid effectiveUid, platform::DirectoryService &directory);

    int run();

    // The account record for a request, as the local directory will keep it.
    static platform::NewUserRecord accountRecord(const RecoveryRequest &request, const QString &guid);

    // The local group whose members are administrators.
    static constexpr QLatin1StringView kAdministratorsGroup { "admin" };

private:
    bool createAccount(const RecoveryRequest &request);

    InputReader m_readInput;
    EffectiveUid m_effectiveUid;
    platform::DirectoryService &m_directory;
};

} // namespace pelk::recovery
