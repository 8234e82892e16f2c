#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pelk::recovery {

// The request the agent writes on standard input: {"username": ..., "password": ..., "uid": ...}.
struct RecoveryRequest {
    QString username;
    QString password;
    qint64 uid = 0;

    // Standard input of this size or more is refused before it is decoded.
    static constexpr qsizetype kRefusedInputBytes = 2048;
    static constexpr qsizetype kMinPasswordLength = 12;
    static constexpr qsizetype kMaxPasswordLength = 128;
    static constexpr qint64 kMinUid = 501;

    // Strict decoding: the three members are required with their JSON types; others are ignored.
    static std::optional<RecoveryRequest> decode(const QByteArray &bytes);

    // The name pattern, the password length and the uid floor all hold.
    bool withinLimits() const;
};

// "pelk-r-" followed by exactly 12 lower-case hexadecimal digits, and nothing else.
bool isRecoveryAccountName(const QString &name);

} // namespace pelk::recovery
