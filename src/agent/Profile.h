#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace pelk::agent {

// An enrollment file as downloaded from the management console. Every member is required.
// The enrollment token is never shown, logged or stored; the import hands the file's bytes on whole.
struct Profile {
    QString format;
    qint64 version = 0;
    QString baseURL;
    QString workspace;
    QString deviceName;
    qint64 deviceID = 0;
    QString platform;
    QString role;
    QString enrollmentToken;
    QString expiresAt;

    static std::optional<Profile> decode(const QByteArray &bytes);
};

} // namespace pelk::agent
