#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pelk::lock {

// The lock state file the agent writes: whether to lock, for which command, with which
// message, and where and how to reach the local agent API.
struct LockState {
    bool locked = false;
    QString commandUuid;
    std::optional<QString> message;
    std::optional<QString> url;
    std::optional<QString> session;

    // Strict: a missing or null locked/command_uuid or any wrong type fails the whole record.
    static std::optional<LockState> decode(const QByteArray &bytes);
};

} // namespace pelk::lock
